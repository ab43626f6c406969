// viQueryf for the formats this system passes: a write format that is a
// plain command, and the read formats "%<n>c", "%d" and "%lf".

#include "visa/deadline.h"
#include "visa/scpinumber.h"
#include "visa/session.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <string>

using namespace visa;

namespace {

// The longest numeric reply we accept; anything longer is not one number.
constexpr ViUInt32 MaxNumberReply = 256;

// "%%" is a literal '%'; any other conversion is not supported.
bool commandFromFormat(const char *fmt, std::string *cmd)
{
    for (const char *p = fmt; *p; ++p) {
        if (*p != '%') {
            cmd->push_back(*p);
        } else if (p[1] == '%') {
            cmd->push_back('%');
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

struct ReadFormat {
    enum Kind { Chars, Int, Real } kind;
    ViUInt32 width = 1; // Chars: at most this many bytes
};

bool parseReadFormat(const char *fmt, ReadFormat *out)
{
    const std::string f(fmt);
    if (f == "%d") {
        out->kind = ReadFormat::Int;
        return true;
    }
    if (f == "%lf") {
        out->kind = ReadFormat::Real;
        return true;
    }
    if (f.size() >= 2 && f.front() == '%' && f.back() == 'c') {
        out->kind = ReadFormat::Chars;
        const std::string digits = f.substr(1, f.size() - 2);
        if (digits.empty())
            return true;
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            return false;
        out->width = ViUInt32(std::strtoul(digits.c_str(), nullptr, 10));
        return out->width > 0;
    }
    return false;
}

// Takes what a read delivers and drops it.
class DiscardTarget : public ReadTarget {
public:
    ViByte *room(size_t want, size_t *len) override
    {
        *len = std::min(want, sizeof scratch_);
        return scratch_;
    }
    ViStatus commit(size_t) override { return VI_SUCCESS; }

private:
    ViByte scratch_[16 * 1024];
};

// Reads the rest of the current message and drops it, in large reads (over
// VXI-11 each is one device_read). The deadline bounds the whole.
ViStatus discardRest(Transport &t, const Deadline &deadline)
{
    DiscardTarget sink;
    while (true) {
        ViUInt32 got = 0;
        const ViStatus status = t.read(sink, 1024 * 1024, &got, deadline.remainingMs());
        if (status != VI_SUCCESS_MAX_CNT)
            return status;
        if (deadline.expired())
            return VI_ERROR_TMO;
    }
}

// Reads one whole message of at most cnt bytes into buf. VI_SUCCESS_MAX_CNT:
// it was longer; the rest has been discarded.
ViStatus readMessage(Transport &t, ViByte *buf, ViUInt32 cnt, ViUInt32 *got, const Deadline &deadline)
{
    const ViStatus status = t.read(buf, cnt, got, deadline.remainingMs());
    if (status != VI_SUCCESS_MAX_CNT)
        return status;
    const ViStatus rest = discardRest(t, deadline);
    return rest < 0 ? rest : VI_SUCCESS_MAX_CNT;
}

} // namespace

extern "C" ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!writeFmt || !readFmt)
        return VI_ERROR_USER_BUF;
    std::string cmd;
    ReadFormat rf{};
    if (!commandFromFormat(writeFmt, &cmd) || !parseReadFormat(readFmt, &rf))
        return VI_ERROR_NSUP_FMT;

    va_list args;
    va_start(args, readFmt);
    void *target = va_arg(args, void *);
    va_end(args);
    if (!target)
        return VI_ERROR_USER_BUF;

    Transport &t = lock.transport();
    ViUInt32 sent = 0;
    ViStatus status = t.write(reinterpret_cast<const ViByte *>(cmd.data()), ViUInt32(cmd.size()), &sent,
                              lock.timeoutMs());
    if (status < 0)
        return status;

    // The reply gets the session's time-out afresh, as a separate viRead would.
    const Deadline deadline(lock.timeoutMs());
    ViUInt32 got = 0;
    if (rf.kind == ReadFormat::Chars)
        return readMessage(t, static_cast<ViByte *>(target), rf.width, &got, deadline);

    char text[MaxNumberReply];
    status = readMessage(t, reinterpret_cast<ViByte *>(text), sizeof text, &got, deadline);
    if (status == VI_SUCCESS_MAX_CNT)
        return VI_ERROR_INV_FMT;
    if (status < 0)
        return status;
    if (rf.kind == ReadFormat::Int) {
        int32_t v = 0;
        if (!parseScpiInt(text, got, &v))
            return VI_ERROR_INV_FMT;
        *static_cast<ViInt32 *>(target) = v;
    } else {
        double v = 0;
        if (!parseScpiReal(text, got, &v))
            return VI_ERROR_INV_FMT;
        *static_cast<double *>(target) = v;
    }
    return status;
}
