#include "sim/rpclistener.h"

#include "sim/recordstream.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace benchsim {

namespace {

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
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
    maxRecord_ = maxRecord;
    factory_ = std::move(factory);
    return server_.listen(ip, port, [this](int fd) { serveRecords(fd); }, error);
}

void TcpRecordServer::serveRecords(int fd)
{
    // The session (and every link it holds) ends with the connection.
    std::unique_ptr<RecordSession> session = factory_(localAddressOf(fd));
    session->peerFd_ = fd;
    RecordReader reader(fd, maxRecord_);
    oncrpc::Bytes record, reply;
    while (!server_.stopping() && reader.next(&record) == RecordReader::Status::Record) {
        reply.clear();
        RecordOutcome out = session->onRecord(record, &reply);
        // A client that takes nothing for this long is given up.
        const int stallMs = 10000;
        if (out.reply && !sendRecord(fd, reply, out.tail, stallMs))
            break;
        if (out.closeAfter) {
            if (out.closeDelayMs > 0) {
                // Sleep, but let stop() cut it short: it shuts the socket down.
                pollfd p{fd, POLLRDHUP, 0};
                ::poll(&p, 1, out.closeDelayMs);
            }
            break;
        }
    }
}

void TcpRecordServer::stop() { server_.stop(); }

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
