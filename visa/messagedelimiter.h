// Finds where an instrument's response message ends on a byte stream that
// carries no END signal (a raw SCPI socket), the way IEEE 488.2 delimits
// it: a line feed ends the message, except inside a definite-length block
// ("#", digit n 1..9, n count digits, count data bytes), whose bytes are
// counted and never scanned for line feeds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace visa {

class MessageDelimiter {
public:
    // Takes bytes of the current message from data[0..n). Returns how many
    // of them belong to it; *ended is set when the last of those ends it
    // (the delimiter is then ready for the next message).
    size_t scan(const uint8_t *data, size_t n, bool *ended);

    // Forget any partly seen message.
    void reset();

    // Bytes of a definite-length block still to come; 0 outside a block.
    // These and the one byte after them belong to the current message
    // whatever they hold, so they may be received without looking.
    uint64_t blockDataLeft() const { return state_ == State::Data ? dataLeft_ : 0; }
    // Nothing of the current message has been seen yet.
    bool atMessageStart() const { return !started_; }

private:
    enum class State { Text, Hash, LengthDigits, Data };
    // One byte in Text, Hash or LengthDigits state; returns true if it ends the message.
    bool step(uint8_t byte);

    State state_ = State::Text;
    bool elementStart_ = true; // a block may begin here
    bool quoted_ = false;      // inside a "string": '#' is text
    int digitsLeft_ = 0;
    uint64_t dataLeft_ = 0;
    bool started_ = false;
};

} // namespace visa
