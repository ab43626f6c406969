#include "visa/messagedelimiter.h"

#include <algorithm>

namespace visa {

void MessageDelimiter::reset()
{
    *this = MessageDelimiter();
}

size_t MessageDelimiter::scan(const uint8_t *data, size_t n, bool *ended)
{
    *ended = false;
    if (n > 0)
        started_ = true;
    size_t i = 0;
    while (i < n) {
        if (state_ == State::Data) {
            // Block data is skipped in bulk: it may hold any byte value.
            const size_t take = static_cast<size_t>(std::min<uint64_t>(dataLeft_, n - i));
            i += take;
            dataLeft_ -= take;
            if (dataLeft_ == 0) {
                state_ = State::Text;
                elementStart_ = false;
            }
            continue;
        }
        if (step(data[i++])) {
            reset();
            *ended = true;
            return i;
        }
    }
    return i;
}

bool MessageDelimiter::step(uint8_t byte)
{
    switch (state_) {
    case State::Hash:
        if (byte >= '1' && byte <= '9') {
            state_ = State::LengthDigits;
            digitsLeft_ = byte - '0';
            dataLeft_ = 0;
            return false;
        }
        // "#0" (indefinite length, ends with the line feed) or a non-decimal
        // number such as "#H1F": plain text from here on.
        state_ = State::Text;
        elementStart_ = false;
        return byte == '\n';
    case State::LengthDigits:
        if (byte >= '0' && byte <= '9') {
            dataLeft_ = dataLeft_ * 10 + (byte - '0');
            if (--digitsLeft_ == 0) {
                state_ = dataLeft_ > 0 ? State::Data : State::Text;
                elementStart_ = false;
            }
            return false;
        }
        // A malformed header: treat what follows as text so that a line
        // feed can still end the message.
        state_ = State::Text;
        elementStart_ = false;
        return byte == '\n';
    case State::Data: // handled in scan()
    case State::Text:
        break;
    }

    if (byte == '\n')
        return true;
    if (byte == '"') {
        quoted_ = !quoted_;
        elementStart_ = false;
    } else if (quoted_) {
        // String content never starts a block.
    } else if (byte == '#' && elementStart_) {
        state_ = State::Hash;
    } else {
        // Blocks start a response data element: at the start of the
        // message, after a separator, or after a header's blank.
        elementStart_ = byte == ',' || byte == ';' || byte == ' ';
    }
    return false;
}

} // namespace visa
