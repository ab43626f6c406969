#include "sim/datagramresponder.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace benchsim {

namespace {

constexpr uint32_t LoopbackNet = 0x7F000000u; // 127.0.0.0/8
constexpr uint32_t LoopbackMask = 0xFF000000u;
// The largest datagram taken in: an mDNS message may be 9000 bytes.
constexpr size_t MaxDatagram = 9000;

bool onLoopback(uint32_t address)
{
    return (address & LoopbackMask) == LoopbackNet;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

std::vector<uint32_t> broadcastAddresses()
{
    std::vector<uint32_t> out = {INADDR_BROADCAST};
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr
            && i->ifa_broadaddr->sa_family == AF_INET)
            out.push_back(ntohl(reinterpret_cast<const sockaddr_in *>(i->ifa_broadaddr)->sin_addr.s_addr));
    }
    ::freeifaddrs(list);
    return out;
}

DatagramResponder::~DatagramResponder() { stop(); }

bool DatagramResponder::listen(uint16_t port, DatagramAnswerer handler, std::string *error)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        *error = errnoText("socket");
        return false;
    }
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    // Replies to the group stay on this machine's interfaces.
    const int ttl = 255;
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        *error = errnoText("bind 0.0.0.0:" + std::to_string(port));
        closeFd(fd_);
        return false;
    }
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        *error = errnoText("pipe");
        closeFd(fd_);
        return false;
    }
    handler_ = std::move(handler);
    try {
        thread_ = std::thread(&DatagramResponder::loop, this);
    } catch (const std::exception &e) {
        *error = std::string("thread: ") + e.what();
        closeFd(fd_);
        closeFd(wakePipe_[0]);
        closeFd(wakePipe_[1]);
        return false;
    }
    return true;
}

bool DatagramResponder::joinGroupOnLoopback(uint32_t group, std::string *error)
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) {
        *error = errnoText("getifaddrs");
        return false;
    }
    int joined = 0;
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)
            || !(i->ifa_flags & IFF_MULTICAST))
            continue;
        const in_addr local = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
        if (!onLoopback(ntohl(local.s_addr)))
            continue;
        ip_mreqn m{};
        m.imr_multiaddr.s_addr = htonl(group);
        m.imr_address = local;
        m.imr_ifindex = int(::if_nametoindex(i->ifa_name));
        if (::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0)
            ++joined;
    }
    ::freeifaddrs(list);
    if (joined == 0)
        *error = "no multicast interface with an address on loopback (127.0.0.0/8)";
    return joined > 0;
}

void DatagramResponder::loop()
{
    std::vector<uint8_t> buf(MaxDatagram);
    for (;;) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        sockaddr_in from{};
        char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec iov{buf.data(), buf.size()};
        msghdr m{};
        m.msg_name = &from;
        m.msg_namelen = sizeof from;
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd_, &m, MSG_DONTWAIT);
        if (n <= 0 || (m.msg_flags & MSG_TRUNC))
            continue;
        Datagram d;
        d.from = ntohl(from.sin_addr.s_addr);
        d.fromPort = ntohs(from.sin_port);
        for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                d.to = ntohl(info.ipi_addr.s_addr);
                d.interfaceIndex = info.ipi_ifindex;
            }
        }
        if (!onLoopback(d.from))
            continue;
        d.bytes.assign(buf.begin(), buf.begin() + n);
        std::vector<DatagramReply> replies;
        try {
            replies = handler_(d);
        } catch (const std::exception &) {
            continue; // out of memory: unanswered, as if lost
        }
        for (const DatagramReply &r : replies) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(r.toPort);
            to.sin_addr.s_addr = htonl(r.to);
            if (r.interfaceIndex != 0) {
                ip_mreqn via{};
                via.imr_address.s_addr = htonl(r.source);
                via.imr_ifindex = r.interfaceIndex;
                ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
            }
            // The source address of the reply rides along as packet info.
            char out[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            iovec data{const_cast<uint8_t *>(r.bytes.data()), r.bytes.size()};
            msghdr s{};
            s.msg_name = &to;
            s.msg_namelen = sizeof to;
            s.msg_iov = &data;
            s.msg_iovlen = 1;
            s.msg_control = out;
            s.msg_controllen = sizeof out;
            cmsghdr *c = CMSG_FIRSTHDR(&s);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = htonl(r.source);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            ::sendmsg(fd_, &s, MSG_DONTWAIT | MSG_NOSIGNAL);
        }
    }
}

void DatagramResponder::stop()
{
    if (fd_ < 0)
        return;
    const char wake = 1;
    (void)!::write(wakePipe_[1], &wake, 1);
    if (thread_.joinable())
        thread_.join();
    closeFd(fd_);
    closeFd(wakePipe_[0]);
    closeFd(wakePipe_[1]);
}

} // namespace benchsim
