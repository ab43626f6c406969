// A scripted VXI-11 core channel for the client tests: it answers
// device_read with whatever (error, reason, data) a test lists, optionally
// late, which the real simulator never does.
#pragma once

#include "sim/rpclistener.h"
#include "visa/vxi11proto.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct FakeRead {
    uint32_t error = 0;
    uint32_t reason = vxi11::ReasonEnd;
    QByteArray data;
    int delayMs = 0; // before the reply is sent
};

struct FakeScript {
    std::mutex mutex;
    std::deque<FakeRead> reads;
    int createLinkDelayMs = 0;
    uint32_t maxRecvSize = 1u << 20;
    int writeDelayMs = 0; // before each device_write reply
    std::vector<uint32_t> requestSizes; // of every device_read received
};

class FakeCoreSession : public benchsim::RecordSession {
public:
    explicit FakeCoreSession(std::shared_ptr<FakeScript> s) : s_(std::move(s)) {}
    benchsim::RecordOutcome onRecord(const oncrpc::Bytes &record, oncrpc::Bytes *reply) override
    {
        oncrpc::XdrReader r(record);
        oncrpc::CallHeader h;
        oncrpc::decodeCall(r, &h);
        oncrpc::XdrWriter w;
        int delay = 0;
        if (h.proc == vxi11::CreateLink) {
            delay = s_->createLinkDelayMs;
            w.u32(0);
            w.u32(1);
            w.u32(0);
            w.u32(s_->maxRecvSize);
        } else if (h.proc == vxi11::DeviceWrite) {
            r.u32();
            r.u32();
            r.u32();
            r.u32();
            delay = s_->writeDelayMs;
            w.u32(0);
            w.u32(uint32_t(r.opaque(1u << 24).size()));
        } else if (h.proc == vxi11::DeviceRead) {
            r.u32();
            const uint32_t requestSize = r.u32();
            FakeRead f;
            {
                std::lock_guard<std::mutex> lock(s_->mutex);
                s_->requestSizes.push_back(requestSize);
                if (!s_->reads.empty()) {
                    f = s_->reads.front();
                    s_->reads.pop_front();
                } else {
                    f.error = vxi11::ErrIoTimeout;
                    f.reason = 0;
                }
            }
            delay = f.delayMs;
            w.u32(f.error);
            w.u32(f.reason);
            w.opaque(reinterpret_cast<const uint8_t *>(f.data.constData()), size_t(f.data.size()));
        } else if (h.proc == vxi11::DeviceLocal) {
            *reply = oncrpc::encodeReply(h.xid, oncrpc::ProcUnavail); // as some instruments do
            return {};
        } else {
            w.u32(0); // destroy_link and the like succeed
        }
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        *reply = oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes());
        return {};
    }

private:
    std::shared_ptr<FakeScript> s_;
};

// Listens on 127.0.0.1; resource() gives the "host,port" form.
class FakeCore {
public:
    FakeCore() : script(std::make_shared<FakeScript>())
    {
        std::string err;
        auto s = script;
        server.listen("127.0.0.1", 0, 1u << 24,
                      [s](const std::string &) { return std::make_unique<FakeCoreSession>(s); }, &err);
    }
    QString resource() const { return QStringLiteral("TCPIP::127.0.0.1,%1::INSTR").arg(server.port()); }
    void addRead(uint32_t error, uint32_t reason, const QByteArray &data, int delayMs = 0)
    {
        std::lock_guard<std::mutex> lock(script->mutex);
        script->reads.push_back({error, reason, data, delayMs});
    }

    std::shared_ptr<FakeScript> script;
    benchsim::TcpRecordServer server;
};
