// The plain I/O operations on an instrument session: viRead, viWrite,
// viReadToFile, viGpibControlREN, viClear and viReadSTB.

#include "visa/deadline.h"
#include "visa/session.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace visa;

extern "C" ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt)
{
    if (retCnt)
        *retCnt = 0;
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!buf && cnt > 0)
        return VI_ERROR_USER_BUF;
    ViUInt32 got = 0;
    const ViStatus status = lock.transport().read(buf, cnt, &got, lock.timeoutMs());
    if (retCnt)
        *retCnt = got;
    return status;
}

extern "C" ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt)
{
    if (retCnt)
        *retCnt = 0;
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!buf && cnt > 0)
        return VI_ERROR_USER_BUF;
    ViUInt32 sent = 0;
    const ViStatus status = lock.transport().write(buf, cnt, &sent, lock.timeoutMs());
    if (retCnt)
        *retCnt = sent;
    return status;
}

namespace {

// Spools a read into a file through the session's buffer, written out a
// large piece at a time.
class FileTarget : public ReadTarget {
public:
    FileTarget(int fd, ViByte *buf, size_t size) : fd_(fd), buf_(buf), size_(size) {}

    ViByte *room(size_t want, size_t *len) override
    {
        *len = std::min(want, size_ - fill_);
        return buf_ + fill_;
    }

    ViStatus commit(size_t n) override
    {
        fill_ += n;
        return fill_ == size_ ? flush() : VI_SUCCESS;
    }

    // Held bytes go to the file as they lie, not through the buffer.
    ViStatus put(const ViByte *data, size_t n, size_t *taken) override
    {
        *taken = 0;
        const ViStatus st = flush();
        if (st != VI_SUCCESS)
            return st;
        if (!writeAll(data, n, taken))
            return VI_ERROR_FILE_IO;
        return VI_SUCCESS;
    }

    ViStatus flush()
    {
        size_t done = 0;
        if (!writeAll(buf_, fill_, &done))
            return VI_ERROR_FILE_IO;
        fill_ = 0;
        return VI_SUCCESS;
    }

private:
    bool writeAll(const ViByte *data, size_t len, size_t *done)
    {
        while (*done < len) {
            const ssize_t n = ::write(fd_, data + *done, len - *done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            *done += size_t(n);
        }
        return true;
    }

    int fd_;
    ViByte *buf_;
    size_t size_;
    size_t fill_ = 0;
};

} // namespace

extern "C" ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViUInt32 *retCnt)
{
    if (retCnt)
        *retCnt = 0;
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!filename)
        return VI_ERROR_FILE_ACCESS;
    ViByte *const buffer = lock.fileBuffer();
    if (!buffer)
        return VI_ERROR_ALLOC;
    // An existing file is replaced, never appended to; by a new file rather
    // than rewritten in place, which costs several times more (ext4, for
    // one, forces a truncated and rewritten file to disk when it is closed).
    // Only a plain file with no other name: a device, a pipe, a symbolic
    // link or a hard-linked file is written through as before, and a file
    // we may not remove is left for open() to judge. Where no file is in
    // the way (the application removes its spool file after each read) the
    // first open makes it, without looking first.
    int fd = ::open(filename, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        struct stat st {};
        if (::lstat(filename, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1)
            ::unlink(filename);
        fd = ::open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        return VI_ERROR_FILE_ACCESS;

    // One transport read with one time-out for the whole transfer; the data
    // go to the file as they arrive.
    FileTarget file(fd, buffer, FileBufferSize);
    ViUInt32 total = 0;
    ViStatus status = lock.transport().read(file, cnt, &total, lock.timeoutMs());
    // What did arrive is kept, also when the read failed.
    if (file.flush() != VI_SUCCESS && status >= 0)
        status = VI_ERROR_FILE_IO;
    if (::close(fd) != 0 && status >= 0)
        status = VI_ERROR_FILE_IO;
    if (retCnt)
        *retCnt = total;
    return status;
}

extern "C" ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (mode != VI_GPIB_REN_ADDRESS_GTL)
        return VI_ERROR_NSUP_MODE;
    return lock.transport().gotoLocal(lock.timeoutMs());
}

extern "C" ViStatus viClear(ViSession vi)
{
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    return lock.transport().clear(lock.timeoutMs());
}

extern "C" ViStatus viReadSTB(ViSession vi, ViUInt16 *status)
{
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!status)
        return VI_ERROR_USER_BUF;
    return lock.transport().readStb(status, lock.timeoutMs());
}
