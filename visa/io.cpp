// The plain I/O operations on an instrument session: viRead, viWrite,
// viReadToFile and viGpibControlREN.

#include "visa/deadline.h"
#include "visa/session.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

extern "C" ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViUInt32 *retCnt)
{
    if (retCnt)
        *retCnt = 0;
    InstrLock lock(vi);
    if (lock.status() != VI_SUCCESS)
        return lock.status();
    if (!filename)
        return VI_ERROR_FILE_ACCESS;
    // "wb": an existing file is replaced, never appended to.
    FILE *file = std::fopen(filename, "wb");
    if (!file)
        return VI_ERROR_FILE_ACCESS;

    // One time-out for the whole transfer, however many chunks it takes.
    const Deadline deadline(lock.timeoutMs());
    std::vector<ViByte> chunk(64 * 1024);
    ViUInt32 total = 0;
    ViStatus status = cnt == 0 ? VI_SUCCESS_MAX_CNT : VI_SUCCESS;
    while (total < cnt) {
        const ViUInt32 want = std::min<ViUInt32>(cnt - total, ViUInt32(chunk.size()));
        ViUInt32 got = 0;
        status = lock.transport().read(chunk.data(), want, &got, deadline.remainingMs());
        if (got > 0 && std::fwrite(chunk.data(), 1, got, file) != got) {
            status = VI_ERROR_FILE_IO;
            break;
        }
        total += got;
        if (status != VI_SUCCESS_MAX_CNT)
            break; // end of message, or an error
    }
    if (std::fclose(file) != 0 && status >= 0)
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
