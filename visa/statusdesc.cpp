// viStatusDesc: a status in words, with what the instrument said about
// the last failure of an instrument session when that is the status.

#include "visa/session.h"

#include <cstdio>
#include <string>

using namespace visa;

namespace {

struct StatusText {
    ViStatus status;
    const char *text;
};

const StatusText StatusTexts[] = {
    {VI_SUCCESS, "VI_SUCCESS: operation completed successfully"},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: the termination character was read"},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: the number of bytes asked for was read"},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: unknown system error"},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: the session or object reference is invalid"},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: the resource was not found"},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: invalid resource string"},
    {VI_ERROR_TMO, "VI_ERROR_TMO: the time-out expired before the operation completed"},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: attribute not supported"},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: out of memory"},
    {VI_ERROR_IO, "VI_ERROR_IO: I/O error"},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT: invalid format"},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT: format not supported"},
    {VI_ERROR_NSUP_MODE, "VI_ERROR_NSUP_MODE: mode not supported"},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: operation not supported by this session"},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: invalid user buffer"},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY: the instrument takes no more clients"},
    {VI_ERROR_FILE_ACCESS, "VI_ERROR_FILE_ACCESS: the file could not be opened"},
    {VI_ERROR_FILE_IO, "VI_ERROR_FILE_IO: the file could not be written"},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: the connection was lost"},
    {VI_ERROR_MACHINE_NAVAIL, "VI_ERROR_MACHINE_NAVAIL: the host refused the connection"},
};

// VISA's buffer for a description.
constexpr size_t DescSize = 256;

} // namespace

extern "C" ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[])
{
    if (!desc)
        return VI_ERROR_USER_BUF;
    std::string text;
    for (const StatusText &s : StatusTexts) {
        if (s.status == status)
            text = s.text;
    }
    if (text.empty()) {
        char number[40];
        std::snprintf(number, sizeof number, "unknown status 0x%08X", unsigned(status));
        text = number;
    }
    // A resource manager has no transport, and a closed session none left.
    InstrLock lock(vi);
    if (lock.status() == VI_SUCCESS && status < 0) {
        const std::string said = lock.transport().failureText(status);
        if (!said.empty())
            text += ": " + said;
    }
    std::snprintf(desc, DescSize, "%s", text.c_str());
    return VI_SUCCESS;
}
