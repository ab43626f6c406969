// A VXI-11 core channel on 127.0.0.1 that answers like an instrument until
// one procedure, which it answers as a broken or hostile one would: a flood
// of replies to other calls or of empty record fragments, a reply that
// trickles in and never completes, huge replies to other calls before the
// real one, or no reply at all. A flood or trickle goes on until the client makes its next
// call (or hangs up); for the client's benefit the stream is then brought
// back in step and that call is answered, as are all later ones. One
// connection, served on a thread.
#pragma once

#include "visa/oncrpc.h"
#include "visa/rpcsocket.h"
#include "visa/vxi11proto.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class HostileCore {
public:
    enum class Mode {
        OtherXids,      // endless well-formed replies to calls never made
        EmptyFragments, // endless empty record fragments, never a last one
        Trickle,        // the real reply, a byte every 20 ms
        HugeOtherXids,  // three 40 MB replies to other calls, then the real one
        Silent,         // nothing, ever, for that call
    };

    HostileCore(uint32_t hostileProc, Mode mode) : proc_(hostileProc), mode_(mode)
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(listenFd_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1)
                return;
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        });
    }

    ~HostileCore()
    {
        stop_ = true;
        thread_.join();
        ::close(listenFd_);
    }

    QString resource() const { return QStringLiteral("TCPIP::127.0.0.1,%1::INSTR").arg(port_); }

private:
    using Bytes = oncrpc::Bytes;

    bool readable(int fd) const
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }

    bool sendBytes(int fd, const uint8_t *data, size_t len)
    {
        return oncrpc::sendAll(fd, data, len, oncrpc::Deadline::after(10000)) == oncrpc::IoResult::Ok;
    }
    bool sendBytes(int fd, const Bytes &b) { return sendBytes(fd, b.data(), b.size()); }

    static Bytes readReply(uint32_t xid, const Bytes &data)
    {
        oncrpc::XdrWriter w;
        w.u32(0); // error
        w.u32(vxi11::ReasonEnd);
        w.opaque(data);
        return oncrpc::frameRecord(oncrpc::encodeReply(xid, oncrpc::Success, w.bytes()));
    }

    // The instrument's ordinary answers: a link, writes taken whole, "1\n" to read.
    Bytes ordinaryReply(const oncrpc::CallHeader &h, oncrpc::XdrReader &args)
    {
        oncrpc::XdrWriter w;
        if (h.proc == vxi11::CreateLink) {
            for (uint32_t v : {0u, 1u, 0u, 1u << 20})
                w.u32(v);
        } else if (h.proc == vxi11::DeviceWrite) {
            for (int i = 0; i < 4; ++i)
                args.u32();
            w.u32(0);
            w.u32(uint32_t(args.opaque(1u << 24).size()));
        } else if (h.proc == vxi11::DeviceRead) {
            return readReply(h.xid, {'1', '\n'});
        } else {
            w.u32(0);
        }
        return oncrpc::frameRecord(oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes()));
    }

    // Until the client calls again; false once it has gone.
    bool misbehave(int fd, const oncrpc::CallHeader &h, oncrpc::XdrReader &args)
    {
        // A client that never stops waiting would keep a test for ever: 15 s at most.
        const auto start = std::chrono::steady_clock::now();
        const auto calledAgain = [&] {
            return stop_ || readable(fd) || std::chrono::steady_clock::now() - start > std::chrono::seconds(15);
        };
        switch (mode_) {
        case Mode::OtherXids: {
            // Late answers to calls long gone (never an id the client uses
            // next), each as small as a reply gets: many records per byte.
            Bytes flood;
            for (uint32_t i = 1; flood.size() < 64 * 1024; ++i) {
                const Bytes r = readReply(h.xid - 1000 - i % 64, {});
                flood.insert(flood.end(), r.begin(), r.end());
            }
            while (!calledAgain())
                if (!sendBytes(fd, flood))
                    return false;
            return true;
        }
        case Mode::EmptyFragments: {
            const Bytes flood(64 * 1024, 0);
            while (!calledAgain())
                if (!sendBytes(fd, flood))
                    return false;
            const uint8_t end[4] = {0x80, 0, 0, 0}; // ends the record the fragments made up
            return sendBytes(fd, end, sizeof end);
        }
        case Mode::Trickle: {
            const Bytes reply = readReply(h.xid, Bytes(200, 'x'));
            size_t sent = 40;
            if (!sendBytes(fd, reply.data(), sent))
                return false;
            while (!calledAgain() && sent + 1 < reply.size()) {
                if (!sendBytes(fd, reply.data() + sent++, 1))
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return sendBytes(fd, reply.data() + sent, reply.size() - sent);
        }
        case Mode::HugeOtherXids: {
            // Sent from one small buffer, so that only the client's memory grows.
            const uint32_t size = 40u << 20;
            const Bytes piece(1u << 20, 'x');
            for (uint32_t i = 1; i <= 3; ++i) {
                oncrpc::XdrWriter w;
                w.u32(oncrpc::LastFragment | (24 + 12 + size));
                for (uint32_t v : {h.xid - 1000 - i, 1u, 0u, 0u, 0u, 0u, 0u, uint32_t(vxi11::ReasonEnd), size})
                    w.u32(v);
                if (!sendBytes(fd, w.bytes()))
                    return false;
                for (uint32_t done = 0; done < size; done += uint32_t(piece.size()))
                    if (!sendBytes(fd, piece))
                        return false;
            }
            return sendBytes(fd, ordinaryReply(h, args));
        }
        case Mode::Silent:
            while (!calledAgain())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        }
        return false;
    }

    void serve(int fd)
    {
        oncrpc::RecordAssembler assembler(1u << 24);
        while (!stop_) {
            Bytes record;
            const oncrpc::IoResult io = oncrpc::receiveRecord(fd, assembler, &record, oncrpc::Deadline::after(100));
            if (io == oncrpc::IoResult::Timeout)
                continue;
            if (io != oncrpc::IoResult::Ok)
                return;
            oncrpc::XdrReader args(record);
            oncrpc::CallHeader h;
            if (!oncrpc::decodeCall(args, &h))
                return;
            const bool hostile = h.proc == proc_ && !misbehaved_;
            misbehaved_ = misbehaved_ || hostile;
            const bool ok = hostile ? misbehave(fd, h, args) : sendBytes(fd, ordinaryReply(h, args));
            if (!ok)
                return;
        }
    }

    uint32_t proc_;
    Mode mode_;
    int listenFd_ = -1;
    quint16 port_ = 0;
    bool misbehaved_ = false; // only the first call of proc_ is answered badly
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
