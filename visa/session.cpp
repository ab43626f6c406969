#include "visa/session.h"

#include "visa/findtargets.h"

#include <cstring>
#include <map>
#include <new>
#include <vector>

namespace visa {

namespace {

struct Table {
    std::mutex mutex;
    std::map<ViSession, std::shared_ptr<Session>> sessions;
    ViSession next = 1;

    // Handles are never 0 (0 means "not open" to every caller) and are not
    // handed out again while still in use.
    ViSession add(std::shared_ptr<Session> s)
    {
        while (next == 0 || sessions.count(next))
            ++next;
        s->handle = next++;
        sessions[s->handle] = s;
        return s->handle;
    }

    std::shared_ptr<Session> find(ViSession vi)
    {
        const auto it = sessions.find(vi);
        return it == sessions.end() ? nullptr : it->second;
    }
};

Table &table()
{
    static Table t;
    return t;
}

void closeTransport(Session &s)
{
    std::lock_guard<std::mutex> io(s.io);
    if (s.transport) {
        s.transport->close();
        s.transport.reset();
    }
}

// VI_ATTR_FIND_HOSTS: the text is checked now, so that a mistake shows
// where it was made; names are looked up at the search.
ViStatus setFindHosts(Session &s, ViAttrState value)
{
    const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
    const size_t len = text ? strnlen(text, VI_FIND_BUFLEN) : 0;
    FindTargets targets;
    if (len == VI_FIND_BUFLEN || (text && !parseFindTargets(std::string(text, len), &targets)))
        return VI_ERROR_NSUP_ATTR_STATE;
    std::lock_guard<std::mutex> io(s.io);
    s.findHosts.assign(text ? text : "", len);
    return VI_SUCCESS;
}

} // namespace

std::shared_ptr<Session> findSession(ViSession vi)
{
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.find(vi);
}

ViSession addSession(const std::shared_ptr<Session> &s)
{
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.find(s->rm) ? t.add(s) : 0;
}

InstrLock::InstrLock(ViSession vi)
    : session_(findSession(vi))
{
    if (!session_)
        return;
    if (session_->isRm()) {
        status_ = VI_ERROR_NSUP_OPER;
        return;
    }
    lock_ = std::unique_lock<std::mutex>(session_->io);
    // Closed by another thread while we waited for the lock.
    status_ = session_->transport ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViByte *InstrLock::fileBuffer()
{
    if (!session_->fileBuffer || !session_->fileBuffer->data())
        session_->fileBuffer.reset(new (std::nothrow) ReceiveBuffer(FileBufferSize));
    return session_->fileBuffer ? session_->fileBuffer->data() : nullptr;
}

} // namespace visa

using namespace visa;

extern "C" ViStatus viOpenDefaultRM(ViSession *vi)
{
    if (!vi)
        return VI_ERROR_USER_BUF;
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    *vi = t.add(std::make_shared<Session>());
    return VI_SUCCESS;
}

// The access mode is not looked at: sessions are never locked (callers
// pass VI_NULL). The open time-out bounds resolving the host and connecting.
extern "C" ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode, ViUInt32 timeout, ViSession *vi)
{
    if (!vi)
        return VI_ERROR_USER_BUF;
    // A failed open leaves no stale handle in the caller's variable.
    *vi = VI_NULL;
    const std::shared_ptr<Session> rm = findSession(sesn);
    if (!rm || !rm->isRm())
        return VI_ERROR_INV_OBJECT;
    Resource rsrc;
    if (!name || !parseResource(name, &rsrc))
        return VI_ERROR_INV_RSRC_NAME;

    // Connecting can take up to the open time-out: no table lock meanwhile.
    ViStatus status = VI_ERROR_RSRC_NFOUND;
    std::unique_ptr<Transport> transport;
    switch (rsrc.kind) {
    case Resource::Kind::Socket:
        transport = openSocketTransport(rsrc, timeout, &status);
        break;
    case Resource::Kind::Instr:
        transport = openVxi11Transport(rsrc, timeout, &status);
        break;
    case Resource::Kind::Hislip:
        transport = openHislipTransport(rsrc, timeout, &status);
        break;
    }
    if (!transport)
        return status < 0 ? status : VI_ERROR_RSRC_NFOUND;

    auto s = std::make_shared<Session>();
    s->rm = sesn;
    s->transport = std::move(transport);
    Table &t = table();
    std::unique_lock<std::mutex> guard(t.mutex);
    // The resource manager may have been closed while we connected.
    if (!t.find(sesn)) {
        guard.unlock();
        closeTransport(*s);
        return VI_ERROR_INV_OBJECT;
    }
    *vi = t.add(s);
    return VI_SUCCESS;
}

extern "C" ViStatus viClose(ViObject vi)
{
    std::vector<std::shared_ptr<Session>> closing;
    {
        Table &t = table();
        std::lock_guard<std::mutex> guard(t.mutex);
        const std::shared_ptr<Session> s = t.find(vi);
        if (!s)
            return VI_ERROR_INV_OBJECT;
        closing.push_back(s);
        t.sessions.erase(vi);
        // Closing a resource manager closes every session opened from it.
        if (s->isRm()) {
            for (auto it = t.sessions.begin(); it != t.sessions.end();) {
                if (it->second->rm == vi) {
                    closing.push_back(it->second);
                    it = t.sessions.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    for (const auto &s : closing)
        closeTransport(*s);
    return VI_SUCCESS;
}

extern "C" ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    const std::shared_ptr<Session> s = findSession(vi);
    if (!s)
        return VI_ERROR_INV_OBJECT;
    if (attrName == VI_ATTR_FIND_HOSTS && s->isRm())
        return setFindHosts(*s, attrValue);
    if (attrName != VI_ATTR_TMO_VALUE)
        return VI_ERROR_NSUP_ATTR;
    s->timeoutMs = attrValue > VI_TMO_INFINITE ? ViUInt32(VI_TMO_INFINITE) : ViUInt32(attrValue);
    return VI_SUCCESS;
}

extern "C" ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue)
{
    const std::shared_ptr<Session> s = findSession(vi);
    if (!s)
        return VI_ERROR_INV_OBJECT;
    const bool hosts = attrName == VI_ATTR_FIND_HOSTS && s->isRm();
    if (attrName != VI_ATTR_TMO_VALUE && !hosts)
        return VI_ERROR_NSUP_ATTR;
    if (!attrValue)
        return VI_ERROR_USER_BUF;
    if (hosts) {
        std::lock_guard<std::mutex> io(s->io);
        std::memcpy(attrValue, s->findHosts.c_str(), s->findHosts.size() + 1);
        return VI_SUCCESS;
    }
    *static_cast<ViUInt32 *>(attrValue) = s->timeoutMs.load();
    return VI_SUCCESS;
}
