// One exchange of the SCPI console: a command sent to an instrument and, for
// a query, its reply read whole. Everything the instrument says is bounded:
// a text reply is kept up to ShownTextBytes, a definite-length block of at
// most MaxBlockBytes is read (to a file, or its first bytes kept), and no
// reply is read past MaxReplyBytes.
#pragma once

#include "shared/visatypes.h"

#include <QByteArray>
#include <QString>

constexpr int ShownTextBytes = 1 << 20;
constexpr int ShownBlockBytes = 64;

struct ScpiReply
{
    bool query = false; // a reply was read (or tried)
    QString failure;    // what went wrong, in words; empty when the exchange succeeded
    bool block = false; // an IEEE 488.2 definite-length block
    qint64 blockBytes = 0;
    QByteArray shown;   // the text (without its line feed), or the block's first bytes
    qint64 notShown = 0; // text bytes beyond those kept
    QString rawFile;    // the block's data were written whole to this file
};

// A command that asks for a reply: one with a '?' in it ("*IDN?",
// "FREQ:CENT 1e9;FREQ:CENT?"). A '?' inside a quoted string does not count.
bool IsScpiQuery(const QByteArray &command);

// Sends command (a line feed is added) and, for a query, reads its reply. A
// block's data go whole to rawFile when one is named (replaced, never
// appended to). timeoutMs is the session's, for the words of a time-out.
ScpiReply ScpiExchange(ViSession vi, const QByteArray &command, const QString &rawFile, ViUInt32 timeoutMs);

// The reply as printed: text with anything unprintable as \xNN, or a
// block's size and first values ("block of 80000 bytes, float32: 0 0.5 ...").
QString ScpiReplyText(const ScpiReply &reply);
