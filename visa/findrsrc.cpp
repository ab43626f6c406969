// viFindRsrc and viFindNext: LAN instruments found on the network, as
// resource strings matched against the caller's expression. The search
// itself is in lanfind.cpp; a find list is a session of its resource
// manager, closed by viClose (or with the resource manager).
#include "visa/findtargets.h"
#include "visa/lanfind.h"
#include "visa/rsrcexpr.h"
#include "visa/session.h"

#include <cstring>

using namespace visa;

namespace {

void copyOut(const std::string &resource, ViChar desc[])
{
    if (desc)
        std::memcpy(desc, resource.c_str(), resource.size() + 1);
}

} // namespace

extern "C" ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *vi, ViUInt32 *retCnt, ViChar desc[])
{
    if (vi)
        *vi = VI_NULL;
    if (retCnt)
        *retCnt = 0;
    const std::shared_ptr<Session> rm = findSession(sesn);
    if (!rm || !rm->isRm())
        return VI_ERROR_INV_OBJECT;
    const std::unique_ptr<RsrcExpr> match = expr ? RsrcExpr::compile(expr) : nullptr;
    if (!match)
        return VI_ERROR_INV_EXPR;
    FindTargets targets;
    {
        std::lock_guard<std::mutex> io(rm->io);
        parseFindTargets(rm->findHosts, &targets); // checked when it was set
    }

    // The search takes the whole time-out: no lock is held meanwhile.
    std::vector<std::string> found;
    for (std::string &r : findLanResources(targets, rm->timeoutMs.load())) {
        // A description has to fit the caller's VI_FIND_BUFLEN characters.
        if (r.size() < VI_FIND_BUFLEN && match->matches(r))
            found.push_back(std::move(r));
    }
    if (found.empty())
        return VI_ERROR_RSRC_NFOUND;
    copyOut(found.front(), desc);
    if (retCnt)
        *retCnt = ViUInt32(found.size());
    if (!vi)
        return VI_SUCCESS;

    auto list = std::make_shared<Session>();
    list->rm = sesn;
    list->isFindList = true;
    list->found = std::move(found);
    list->foundNext = 1;
    *vi = addSession(list);
    return *vi ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

extern "C" ViStatus viFindNext(ViFindList vi, ViChar desc[])
{
    const std::shared_ptr<Session> list = findSession(vi);
    if (!list || !list->isFindList)
        return VI_ERROR_INV_OBJECT;
    std::lock_guard<std::mutex> io(list->io);
    if (list->foundNext >= list->found.size())
        return VI_ERROR_RSRC_NFOUND;
    copyOut(list->found[list->foundNext++], desc);
    return VI_SUCCESS;
}
