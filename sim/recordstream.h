// ONC RPC record marking on the server side of a TCP connection: records
// read fragment by fragment into one buffer that is reused from record to
// record, and replies written with one gathering send, so a 40 MB
// device_read result goes from where it lies to the socket.
#pragma once

#include "sim/socketinput.h"
#include "visa/oncrpc.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace benchsim {

class RecordReader {
public:
    // fd: a non-blocking socket. maxRecord bounds one record.
    RecordReader(int fd, size_t maxRecord);

    enum class Status {
        Record,
        Closed,    // the client hung up, or the socket was shut down (server stopping)
        Oversized, // a record beyond maxRecord: the stream cannot be trusted
    };
    // Waits for the next whole record; its bytes replace *record.
    Status next(oncrpc::Bytes *record);

private:
    bool read(uint8_t *to, size_t n);

    int fd_;
    size_t max_;
    SocketInput in_;
};

// Sends one record: head, then tail padded with zeros to a multiple of 4
// bytes (XDR opaque data). False when the connection failed or the client
// took nothing for stallMs.
bool sendRecord(int fd, const oncrpc::Bytes &head, const QByteArray &tail, int stallMs);

} // namespace benchsim
