#include "visa/readahead.h"

#include <algorithm>
#include <new>

namespace visa {

bool ReadAhead::reserve()
{
    if (!buffer_ || !buffer_->data())
        buffer_.reset(new (std::nothrow) ReceiveBuffer(capacity_));
    return buffer_ && buffer_->data();
}

ViByte *ReadAhead::room()
{
    discard();
    return buffer_->data();
}

void ReadAhead::hold(size_t n, bool ended)
{
    pos_ = 0;
    end_ = std::min(n, capacity_);
    ended_ = ended;
}

ViStatus ReadAhead::deliver(ReadTarget &to, size_t cnt, size_t *moved)
{
    const ViStatus st = to.put(buffer_->data() + pos_, std::min(cnt, size()), moved);
    pos_ += *moved;
    return st;
}

} // namespace visa
