// Splitting SCPI program messages into commands and the wire formats of
// responses (IEEE 488.2 definite-length blocks, ASCII lists).
#pragma once

#include <QByteArray>
#include <QList>
#include <QVector>

namespace benchsim {

struct Command {
    QByteArray header; // upper case, as sent, "?" included: "CHAN1:DATA?", "*OPC?"
    QByteArray args;   // parameters, surrounding blanks removed: "REAL,32", "TRACE1, 20000"
    bool query = false;
};

// Splits a program message at ";" outside quoted strings. Every command is
// taken as a full header from the root: the application never relies on
// SCPI's relative header paths. Empty commands (";;") are skipped.
QList<Command> splitMessage(const QByteArray &message);

// The header with a channel suffix 1..4 after "CHAN" replaced by "#", so one
// table row serves every channel: "CHAN2:RANG" -> "CHAN#:RANG". *channel gets
// the number (0 when there is none).
QByteArray channelPattern(const QByteArray &header, int *channel);

// SCPI boolean: ON/OFF/1/0. False when the text is none of them.
bool parseBool(const QByteArray &args, bool *value);

// "FORM" parameters: ASC (also ASCII, "ASC,0") or REAL,32 (also REAL).
// False for anything else.
bool parseDataFormat(const QByteArray &args, bool *ascii);

// "#<n><count><data>" of little-endian float32 samples (the instrument adds
// the message terminator).
QByteArray floatBlock(const QVector<float> &samples);
// Samples as "v1,v2,...", 7 significant digits, locale-free.
QByteArray asciiList(const QVector<float> &samples);

// Data bytes of a definite-length block reply, or the reply itself without
// its terminator when it is not a block. Used to build malformed blocks.
QByteArray blockPayload(const QByteArray &reply);

} // namespace benchsim
