#include "sim/hislipserver.h"

#include "sim/connectionserver.h"
#include "sim/hislipchannel.h"
#include "sim/hislipsession.h"
#include "visa/hislipproto.h"

#include <cstring>
#include <map>
#include <mutex>

namespace benchsim {

using hislip::Header;

namespace {
// Our two letters in AsyncInitializeResponse; not a registered vendor id.
constexpr uint32_t VendorId = uint32_t('B') << 8 | uint32_t('S');
// Sub-addresses are short names ("hislip0"); nothing longer is compared.
constexpr int MaxSubAddress = 64;
} // namespace

struct HislipServer::Private {
    QVector<Endpoint *> instruments;
    QString host = QStringLiteral("127.0.0.1");
    Options options;
    ConnectionServer server;

    mutable std::mutex mutex;
    std::map<uint16_t, std::shared_ptr<HislipSession>> sessions;
    uint16_t nextId = 1;

    void serve(int fd);
    void serveSync(const std::shared_ptr<HislipChannel> &channel, const QByteArray &subAddress);
    void serveAsync(const std::shared_ptr<HislipChannel> &channel, uint16_t sessionId);
    int instrumentFor(const QByteArray &subAddress) const;
    std::shared_ptr<HislipSession> open(Endpoint *endpoint);
    void lockCensus(bool *exclusiveGranted, uint32_t *holders) const;
};

int HislipServer::Private::instrumentFor(const QByteArray &subAddress) const
{
    if (subAddress.isEmpty())
        return instruments.isEmpty() ? -1 : 0;
    const QByteArray name = subAddress.toLower();
    if (name.size() > MaxSubAddress || !name.startsWith("hislip"))
        return -1;
    const QByteArray digits = name.mid(6);
    bool ok = false;
    const int i = digits.toInt(&ok);
    // Plain decimal digits only: "hislip+1" and "hislip 1" name nothing.
    if (!ok || digits.isEmpty() || digits.size() > 3 || digits.at(0) < '0' || digits.at(0) > '9')
        return -1;
    return i < instruments.size() ? i : -1;
}

std::shared_ptr<HislipSession> HislipServer::Private::open(Endpoint *endpoint)
{
    std::lock_guard<std::mutex> lock(mutex);
    // At most MaxConnections sessions exist, so a free id is found.
    while (nextId == 0 || sessions.count(nextId))
        ++nextId;
    auto session = std::make_shared<HislipSession>(nextId, endpoint, options.maxMessageSize);
    sessions[nextId++] = session;
    return session;
}

void HislipServer::Private::lockCensus(bool *exclusiveGranted, uint32_t *holders) const
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto &s : sessions) {
        const HislipSession::LockState l = s.second->locks();
        *exclusiveGranted = *exclusiveGranted || l.exclusive;
        *holders += (l.exclusive || l.shared) ? 1 : 0;
    }
}

void HislipServer::Private::serve(int fd)
{
    auto channel = std::make_shared<HislipChannel>(fd, server.wakeFd(), options.maxMessageSize);
    // Whoever still holds the channel sends nothing on it once the
    // connection's descriptor is closed.
    struct Closer {
        HislipChannel &c;
        ~Closer() { c.close(); }
    } closer{*channel};

    Header h;
    QByteArray payload;
    switch (channel->next(&h, &payload)) {
    case HislipChannel::Status::Message:
        break;
    case HislipChannel::Status::Closed:
        return;
    case HislipChannel::Status::Stalled:
        channel->sendError(hislip::FatalError, hislip::FatalUnidentified);
        return;
    case HislipChannel::Status::BadHeader:
    case HislipChannel::Status::TooLarge:
        channel->sendError(hislip::FatalError, hislip::FatalBadHeader);
        return;
    }
    if (h.type == hislip::Initialize)
        serveSync(channel, payload);
    else if (h.type == hislip::AsyncInitialize)
        serveAsync(channel, uint16_t(h.param));
    else
        channel->sendError(hislip::FatalError, hislip::FatalBadInitialization);
}

// Initialize: parameter = the client's protocol version and vendor id
// (taken as they come), payload = the sub-address.
void HislipServer::Private::serveSync(const std::shared_ptr<HislipChannel> &channel, const QByteArray &subAddress)
{
    const int index = instrumentFor(subAddress);
    if (index < 0) {
        channel->sendError(hislip::FatalError, hislip::FatalBadInitialization);
        return;
    }
    std::shared_ptr<HislipSession> session = open(instruments[index]);
    // Synchronized mode preferred (control 0); our version and the session id.
    const uint32_t param = uint32_t(hislip::ProtocolVersion) << 16 | session->id();
    if (channel->send(hislip::InitializeResponse, 0, param))
        session->serveSync(channel);
    session->end();
    std::lock_guard<std::mutex> lock(mutex);
    sessions.erase(session->id());
}

// AsyncInitialize: parameter = the session id from InitializeResponse.
void HislipServer::Private::serveAsync(const std::shared_ptr<HislipChannel> &channel, uint16_t sessionId)
{
    std::shared_ptr<HislipSession> session;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = sessions.find(sessionId);
        if (it != sessions.end())
            session = it->second;
    }
    if (!session || !session->attachAsync(channel)) {
        channel->sendError(hislip::FatalError, hislip::FatalBadInitialization);
        return;
    }
    if (channel->send(hislip::AsyncInitializeResponse, 0, VendorId))
        session->serveAsync(*channel,
                            [this](bool *exclusive, uint32_t *holders) { lockCensus(exclusive, holders); });
    session->end();
}

HislipServer::HislipServer(const QVector<Endpoint *> &instruments) : HislipServer(instruments, Options()) {}

HislipServer::HislipServer(const QVector<Endpoint *> &instruments, const Options &options) : d(new Private)
{
    d->instruments = instruments;
    d->options = options;
}

HislipServer::~HislipServer() { stop(); }

bool HislipServer::start(quint16 port, QString *error, const QString &host)
{
    d->host = host;
    const char *text = hislip::fatalErrorText(hislip::FatalTooManyClients);
    const std::vector<uint8_t> refusal = hislip::encodeMessage(
        hislip::FatalError, hislip::FatalTooManyClients, 0, reinterpret_cast<const uint8_t *>(text), strlen(text));
    d->server.setRefusal(refusal);
    std::string err;
    if (d->server.listen(host.toStdString(), port, [p = d.get()](int fd) { p->serve(fd); }, &err))
        return true;
    if (error)
        *error = QString::fromStdString(err);
    return false;
}

void HislipServer::stop() { d->server.stop(); }

quint16 HislipServer::port() const { return d->server.port(); }

QString HislipServer::resource(int i) const
{
    if (i < 0 || i >= d->instruments.size() || port() == 0)
        return {};
    if (port() == hislip::DefaultPort)
        return QStringLiteral("TCPIP::%1::hislip%2::INSTR").arg(d->host).arg(i);
    return QStringLiteral("TCPIP::%1::hislip%2,%3::INSTR").arg(d->host).arg(i).arg(port());
}

int HislipServer::sessionCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return int(d->sessions.size());
}

} // namespace benchsim
