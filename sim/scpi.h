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

// Reads the commands of a program message one at a time, split at ";"
// outside quoted strings, so a message of a megabyte of ";*IDN?" is never
// held as a list. Every command is taken as a full header from the root:
// the application never relies on SCPI's relative header paths. Empty
// commands (";;") are skipped. The message must outlive the reader.
class CommandReader {
public:
    explicit CommandReader(const QByteArray &message) : message_(message) {}
    bool next(Command *cmd);

private:
    const QByteArray &message_;
    int pos_ = 0;
};

// All commands of a message at once.
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

// "#<n><count>", the header of a definite-length block of count data bytes.
QByteArray blockHeader(qint64 count);
// "#<n><count><data>" of little-endian float32 samples (the instrument adds
// the message terminator).
QByteArray floatBlock(const QVector<float> &samples);
// Samples as "v1,v2,...", 7 significant digits, locale-free.
QByteArray asciiList(const QVector<float> &samples);
// The same for count little-endian float32 samples at le32, appended to
// *out. False, with *out as it was, when the list would pass maxBytes: a
// record's text is only known once written, and a long one is refused
// rather than held.
bool appendAsciiList(const char *le32, qint64 count, qint64 maxBytes, QByteArray *out);

// Data bytes of a definite-length block reply, or the reply itself without
// its terminator when it is not a block. Used to build malformed blocks.
QByteArray blockPayload(const QByteArray &reply);

} // namespace benchsim
