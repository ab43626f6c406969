#include "sim/rpclistener.h"

#include "sim/endpoint.h"
#include "sim/recordstream.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace benchsim {

namespace {

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

int boundSocket(int type, const std::string &ip, uint16_t port, uint16_t *boundPort, std::string *error)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1) {
        *error = "not an IPv4 address: " + ip;
        return -1;
    }
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoText("socket");
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        *error = errnoText("bind " + ip + ":" + std::to_string(port));
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    *boundPort = ntohs(sa.sin_port);
    return fd;
}

std::string localAddressOf(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    char text[INET_ADDRSTRLEN] = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return text;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Waits for fd to become readable; false when the wake pipe fired.
bool waitReadable(int fd, int wakeFd)
{
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || p[1].revents)
            return false;
        if (p[0].revents)
            return true;
    }
}

} // namespace

TcpRecordServer::~TcpRecordServer() { stop(); }

bool TcpRecordServer::listen(const std::string &ip, uint16_t port, size_t maxRecord, SessionFactory factory,
                             std::string *error)
{
    listenFd_ = boundSocket(SOCK_STREAM, ip, port, &port_, error);
    if (listenFd_ < 0)
        return false;
    if (::listen(listenFd_, 16) != 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        *error = errnoText("listen");
        closeFd(listenFd_);
        return false;
    }
    maxRecord_ = maxRecord;
    factory_ = std::move(factory);
    stopping_ = false;
    try {
        acceptThread_ = std::thread(&TcpRecordServer::acceptLoop, this);
    } catch (const std::exception &e) {
        *error = std::string("thread: ") + e.what();
        closeFd(listenFd_);
        closeFd(wakePipe_[0]);
        closeFd(wakePipe_[1]);
        return false;
    }
    return true;
}

void TcpRecordServer::acceptLoop()
{
    while (waitReadable(listenFd_, wakePipe_[0])) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the pending connection stays, and with it a
            // readable listener: pause instead of spinning (stop() cuts it short).
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pollfd wake{wakePipe_[0], POLLIN, 0};
                ::poll(&wake, 1, 100);
            }
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        admit(fd);
    }
}

void TcpRecordServer::admit(int fd)
{
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Join the threads of connections that have ended since.
        for (auto it = conns_.begin(); it != conns_.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = conns_.erase(it);
            } else {
                ++it;
            }
        }
        if (stopping_ || int(conns_.size()) >= MaxConnections) {
            ::close(fd);
            return;
        }
        Conn *c = nullptr;
        try {
            conns_.push_back(std::make_unique<Conn>());
            c = conns_.back().get();
            c->fd = fd;
            c->thread = std::thread(&TcpRecordServer::serve, this, c, localAddressOf(fd));
        } catch (const std::exception &) {
            // No thread (or no memory) for one more connection: this one is
            // refused, the others go on.
            if (c)
                conns_.pop_back();
            ::close(fd);
            refused = true;
        }
    }
    if (refused) {
        // Keeps a client that retries at once from turning refusals into a busy loop.
        pollfd wake{wakePipe_[0], POLLIN, 0};
        ::poll(&wake, 1, 100);
    }
}

void TcpRecordServer::serve(Conn *conn, std::string localIp)
{
    try {
        serveRecords(conn, localIp);
    } catch (const std::exception &) {
        // Out of memory while serving: this connection ends (its links with
        // it), the server goes on.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ::shutdown(conn->fd, SHUT_RDWR);
    closeFd(conn->fd);
    conn->done = true;
}

void TcpRecordServer::serveRecords(Conn *conn, const std::string &localIp)
{
    // The session (and every link it holds) ends with the connection.
    std::unique_ptr<RecordSession> session = factory_(localIp);
    session->peerFd_ = conn->fd;
    RecordReader reader(conn->fd, maxRecord_);
    oncrpc::Bytes record, reply;
    while (!stopping_ && reader.next(&record) == RecordReader::Status::Record) {
        reply.clear();
        RecordOutcome out = session->onRecord(record, &reply);
        // A client that takes nothing for this long is given up.
        const int stallMs = 10000;
        if (out.reply && !sendRecord(conn->fd, reply, out.tail, stallMs))
            break;
        if (out.closeAfter) {
            if (out.closeDelayMs > 0) {
                // Sleep, but let stop() cut it short: it shuts the socket down.
                pollfd p{conn->fd, POLLRDHUP, 0};
                ::poll(&p, 1, out.closeDelayMs);
            }
            break;
        }
    }
}

void TcpRecordServer::stop()
{
    if (listenFd_ < 0)
        return;
    stopping_ = true;
    const char wake = 1;
    (void)!::write(wakePipe_[1], &wake, 1);
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::list<std::unique_ptr<Conn>> conns;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &c : conns_) {
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR); // wakes a thread blocked in poll on it
        }
        conns.swap(conns_);
    }
    for (auto &c : conns)
        c->thread.join();
    closeFd(listenFd_);
    closeFd(wakePipe_[0]);
    closeFd(wakePipe_[1]);
}

UdpRecordServer::~UdpRecordServer() { stop(); }

bool UdpRecordServer::listen(const std::string &ip, uint16_t port, DatagramHandler handler, std::string *error)
{
    fd_ = boundSocket(SOCK_DGRAM, ip, port, &port_, error);
    if (fd_ < 0)
        return false;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        *error = errnoText("pipe");
        closeFd(fd_);
        return false;
    }
    ip_ = ip;
    handler_ = std::move(handler);
    try {
        thread_ = std::thread(&UdpRecordServer::loop, this);
    } catch (const std::exception &e) {
        *error = std::string("thread: ") + e.what();
        closeFd(fd_);
        closeFd(wakePipe_[0]);
        closeFd(wakePipe_[1]);
        return false;
    }
    return true;
}

void UdpRecordServer::loop()
{
    // 8800 bytes: the largest RPC datagram libtirpc sends.
    uint8_t buf[8800];
    while (waitReadable(fd_, wakePipe_[0])) {
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n <= 0)
            continue;
        try {
            oncrpc::Bytes out;
            if (handler_(oncrpc::Bytes(buf, buf + n), ip_, &out))
                ::sendto(fd_, out.data(), out.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), fromLen);
        } catch (const std::exception &) {
            // Out of memory: this datagram goes unanswered, as if lost.
        }
    }
}

void UdpRecordServer::stop()
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
