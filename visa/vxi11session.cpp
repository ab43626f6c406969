#include "visa/transport.h"

namespace visa {

// VXI-11 (TCPIP::host::INSTR) is not implemented yet: opening such a
// resource reports that it cannot be reached.
std::unique_ptr<Transport> openVxi11Transport(const Resource &, ViUInt32, ViStatus *status)
{
    *status = VI_ERROR_RSRC_NFOUND;
    return nullptr;
}

} // namespace visa
