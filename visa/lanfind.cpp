#include "visa/lanfind.h"

#include "visa/deadline.h"
#include "visa/findreplies.h"
#include "visa/lanservices.h"
#include "visa/vxi11proto.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {

namespace {

// Answers of a busy network wait in the kernel while we send: room for a
// few thousand small datagrams.
constexpr int ReceiveBufferBytes = 1 << 20;
// Datagrams sent in a row before the replies are looked at again.
constexpr int SendBurst = 64;
// How often pending name look-ups are looked at.
constexpr int LookupPollMs = 5;
// Each host name contributes at most this many addresses.
constexpr size_t AddressesPerName = 8;

struct Interface {
    unsigned index = 0;
    uint32_t address = 0; // host byte order
    uint32_t broadcast = 0;
    bool hasBroadcast = false;
    bool multicast = false;
};

std::vector<Interface> ipv4Interfaces()
{
    std::vector<Interface> out;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        Interface f;
        f.index = ::if_nametoindex(i->ifa_name);
        f.address = ntohl(reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr);
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr && i->ifa_broadaddr->sa_family == AF_INET) {
            f.broadcast = ntohl(reinterpret_cast<const sockaddr_in *>(i->ifa_broadaddr)->sin_addr.s_addr);
            f.hasBroadcast = f.broadcast != 0;
        }
        f.multicast = (i->ifa_flags & IFF_MULTICAST) != 0;
        out.push_back(f);
    }
    ::freeifaddrs(list);
    return out;
}

sockaddr_in socketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

// getaddrinfo cannot be cancelled: each name is looked up on a thread of
// its own, whose result is dropped if the search has ended by then.
class NameLookups {
public:
    void start(const std::vector<std::string> &names)
    {
        for (const std::string &name : names) {
            try {
                std::thread(&NameLookups::lookUp, state_, name).detach();
                ++started_;
            } catch (const std::exception &) {
                // No thread for it: the name is left out, as if unresolved.
            }
        }
    }

    // Moves the addresses found so far to *out; true once every look-up ended.
    bool take(std::deque<uint32_t> *out)
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        out->insert(out->end(), state_->addresses.begin(), state_->addresses.end());
        state_->addresses.clear();
        return state_->finished == started_;
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<uint32_t> addresses;
        size_t finished = 0;
    };

    static void lookUp(std::shared_ptr<State> state, std::string name)
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo *res = nullptr;
        std::vector<uint32_t> found;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &res) == 0) {
            for (const addrinfo *a = res; a && found.size() < AddressesPerName; a = a->ai_next) {
                if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in))
                    found.push_back(ntohl(reinterpret_cast<const sockaddr_in *>(a->ai_addr)->sin_addr.s_addr));
            }
            ::freeaddrinfo(res);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        state->addresses.insert(state->addresses.end(), found.begin(), found.end());
        ++state->finished;
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
    size_t started_ = 0;
};

uint32_t randomish()
{
    const auto t = std::chrono::steady_clock::now().time_since_epoch().count();
    return uint32_t(t) ^ uint32_t(t >> 32) ^ (uint32_t(::getpid()) << 16);
}

int udpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int size = ReceiveBufferBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    return fd;
}

// One socket and what it still has to send: the portmapper query or the
// mDNS query, to port 111 or 5353 of each address queued.
struct Channel {
    int fd = -1;
    uint16_t port = 0;
    std::vector<uint8_t> query;
    std::deque<uint32_t> pending;

    ~Channel()
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool sendTo(uint32_t address)
    {
        const sockaddr_in to = socketAddress(address, port);
        const ssize_t n = ::sendto(fd, query.data(), query.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr *>(&to), sizeof to);
        return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }

    // Sends up to SendBurst queued datagrams; one the socket cannot take
    // now stays queued. Other failures (no route, ...) drop that address.
    void sendPending()
    {
        for (int i = 0; i < SendBurst && !pending.empty(); ++i) {
            if (!sendTo(pending.front()))
                return;
            pending.pop_front();
        }
    }
};

class Search {
public:
    explicit Search(ViUInt32 timeoutMs) : deadline_(timeoutMs)
    {
        xid_ = randomish();
        portmap_.fd = udpSocket();
        portmap_.port = portmap::Port;
        portmap_.query = coreChannelQuery(xid_);
        mdns_.fd = udpSocket();
        mdns_.port = mdns::Port;
        mdns_.query = lanServicesQuery(uint16_t(xid_ >> 16));
        const int one = 1, ttl = 255;
        if (portmap_.fd >= 0)
            ::setsockopt(portmap_.fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        if (mdns_.fd >= 0) {
            // mDNS queries go out with TTL 255 (RFC 6762, 11); looped back
            // so that a responder on this machine answers too.
            ::setsockopt(mdns_.fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
            ::setsockopt(mdns_.fd, IPPROTO_IP, IP_MULTICAST_LOOP, &one, sizeof one);
        }
    }

    std::vector<std::string> run(const FindTargets &targets, ViUInt32 timeoutMs)
    {
        if (portmap_.fd < 0 || mdns_.fd < 0)
            return {};
        NameLookups lookups;
        lookups.start(targets.names);
        const Deadline lookupsEnd(timeoutMs / 2);
        bool lookingUp = !targets.names.empty();

        askInterfaces();
        queue(std::deque<uint32_t>(targets.addresses.begin(), targets.addresses.end()));
        for (;;) {
            if (lookingUp) {
                std::deque<uint32_t> resolved;
                lookingUp = !lookups.take(&resolved) && !lookupsEnd.expired();
                queue(resolved);
            }
            portmap_.sendPending();
            mdns_.sendPending();
            int waitMs = deadline_.pollMs();
            if (waitMs == 0)
                break;
            if (lookingUp)
                waitMs = std::min(waitMs, LookupPollMs);
            pollfd p[2] = {{portmap_.fd, short(POLLIN | (portmap_.pending.empty() ? 0 : POLLOUT)), 0},
                           {mdns_.fd, short(POLLIN | (mdns_.pending.empty() ? 0 : POLLOUT)), 0}};
            if (::poll(p, 2, waitMs) < 0 && errno != EINTR)
                break;
            receive(portmap_.fd, true);
            receive(mdns_.fd, false);
        }
        return std::vector<std::string>(found_.begin(), found_.end());
    }

private:
    void askInterfaces()
    {
        for (const Interface &i : ipv4Interfaces()) {
            if (i.hasBroadcast)
                portmap_.pending.push_back(i.broadcast);
            if (!i.multicast)
                continue;
            ip_mreqn via{};
            via.imr_address.s_addr = htonl(i.address);
            via.imr_ifindex = int(i.index);
            if (::setsockopt(mdns_.fd, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via) != 0)
                continue;
            in_addr group{};
            ::inet_pton(AF_INET, mdns::GroupAddress, &group);
            // Right away: the next interface changes the socket's choice.
            mdns_.sendTo(ntohl(group.s_addr));
        }
    }

    void queue(const std::deque<uint32_t> &addresses)
    {
        portmap_.pending.insert(portmap_.pending.end(), addresses.begin(), addresses.end());
        mdns_.pending.insert(mdns_.pending.end(), addresses.begin(), addresses.end());
    }

    void receive(int fd, bool portmapper)
    {
        uint8_t buf[mdns::MaxMessage];
        for (int i = 0; !deadline_.expired() || i == 0; ++i) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC,
                                         reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // Errors queued by ICMP for one address, a datagram cut short, or
            // one that did not come from the service's port: skip it.
            if (n < 0 || size_t(n) > sizeof buf || from.sin_family != AF_INET)
                continue;
            char ip[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            if (portmapper) {
                if (ntohs(from.sin_port) == portmap::Port && coreChannelAnswered(buf, size_t(n), xid_))
                    add(lanResource(LanProtocol::Vxi11, ip, 0));
            } else if (ntohs(from.sin_port) == mdns::Port) {
                for (const std::string &r : resourcesInMdnsResponse(buf, size_t(n), ip))
                    add(r);
            }
        }
    }

    void add(const std::string &resource)
    {
        if (found_.size() < MaxFoundResources)
            found_.insert(resource);
    }

    Deadline deadline_;
    uint32_t xid_ = 0;
    Channel portmap_;
    Channel mdns_;
    std::set<std::string> found_;
};

} // namespace

std::vector<std::string> findLanResources(const FindTargets &targets, ViUInt32 timeoutMs)
{
    timeoutMs = std::min(timeoutMs, MaxFindTimeoutMs);
    return Search(timeoutMs).run(targets, timeoutMs);
}

} // namespace visa
