// A one-connection TCP server on 127.0.0.1 (a free port) that plays a
// scripted instrument on its own thread, for tests of the socket transport
// and the session layer.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class ScriptedPeer {
public:
    explicit ScriptedPeer(int fd) : fd_(fd) {}

    // The next line the client sent, without its line feed; empty when the
    // client closed or nothing came within timeoutMs.
    std::string readLine(int timeoutMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            const size_t lf = pending_.find('\n');
            if (lf != std::string::npos) {
                std::string line = pending_.substr(0, lf);
                pending_.erase(0, lf + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !receive(int(left.count())))
                return std::string();
        }
    }

    // The next n bytes the client sent; fewer when the client closed or
    // they did not all come within timeoutMs.
    std::string readBytes(size_t n, int timeoutMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pending_.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !receive(int(left.count())))
                break;
        }
        std::string bytes = pending_.substr(0, n);
        pending_.erase(0, bytes.size());
        return bytes;
    }

    // Reads (and drops) everything until the client closes, at most timeoutMs.
    void waitClientClose(int timeoutMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !receive(int(left.count())))
                return;
        }
    }

    // false once the client has gone.
    bool send(const std::string &bytes)
    {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += size_t(n);
        }
        return true;
    }

    int fd() const { return fd_; }

    static void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // Every byte received so far.
    std::string received()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return all_;
    }

private:
    bool receive(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pending_.append(buf, size_t(n));
        std::lock_guard<std::mutex> guard(mutex_);
        all_.append(buf, size_t(n));
        return true;
    }

    int fd_;
    std::string pending_;
    std::mutex mutex_;
    std::string all_;
};

class ScriptedServer {
public:
    using Script = std::function<void(ScriptedPeer &)>;
    // For protocols with more than one connection: the script takes the
    // next ones with acceptNext().
    using ServerScript = std::function<void(ScriptedServer &, ScriptedPeer &)>;

    // resetOnClose: end the connection with a TCP reset instead of a FIN.
    explicit ScriptedServer(Script script, bool resetOnClose = false)
        : ScriptedServer([script](ScriptedServer &, ScriptedPeer &peer) { script(peer); }, resetOnClose)
    {
    }

    explicit ScriptedServer(ServerScript script, bool resetOnClose = false)
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(listenFd_, 2);
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        done_ = doneSignal_.get_future();
        thread_ = std::thread([this, script, resetOnClose] {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) == 1) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    ScriptedPeer peer(fd);
                    script(*this, peer);
                    received_ = peer.received();
                    if (resetOnClose) {
                        const linger l{1, 0};
                        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                    }
                    ::close(fd);
                }
            }
            doneSignal_.set_value();
        });
    }

    ~ScriptedServer()
    {
        thread_.join();
        ::close(listenFd_);
    }

    quint16 port() const { return port_; }
    QString resource() const { return QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port_); }

    // The next connection, from the script's thread; -1 if none came within
    // timeoutMs. The script closes it.
    int acceptNext(int timeoutMs = 5000)
    {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return -1;
        return ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // Waits until the script has run and the connection is closed.
    bool waitDone(int timeoutMs = 10000)
    {
        return done_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
    }

    // What the client sent; valid after waitDone().
    std::string received() const { return received_; }

private:
    int listenFd_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
    std::promise<void> doneSignal_;
    std::future<void> done_;
    std::string received_;
};
