#include "sim/bench.h"

#include "sim/hislipserver.h"
#include "sim/oscilloscope.h"
#include "sim/socketserver.h"
#include "sim/rfanalyzer.h"
#include "sim/truthstore.h"
#include "sim/videoanalyzer.h"
#include "sim/vxi11server.h"

#include <algorithm>

namespace benchsim {

struct Bench::Private {
    explicit Private(const Scenario &s) : scenario(s), osc(s, &truths), sa(s, &truths), va(s) {}

    Instrument *instrument(const QString &name) const
    {
        if (name == QLatin1String("osc"))
            return &osc;
        if (name == QLatin1String("sa"))
            return &sa;
        if (name == QLatin1String("va"))
            return &va;
        return nullptr;
    }
    SocketServer *server(const QString &name) const
    {
        const Instrument *wanted = instrument(name);
        const Instrument *all[3] = {&osc, &sa, &va};
        for (int i = 0; i < 3; ++i)
            if (wanted && all[i] == wanted)
                return servers[i].get();
        return nullptr;
    }

    const Scenario scenario;
    TruthStore truths;
    // The models lock themselves; const accessors of the bench still use them.
    mutable Oscilloscope osc;
    mutable SpectrumAnalyzer sa;
    mutable VideoAnalyzer va;
    std::unique_ptr<SocketServer> servers[3];
    std::unique_ptr<Vxi11Server> vxi11;
    std::vector<std::unique_ptr<HislipServer>> hislip; // one, or one per instrument's address

    // 0, 1, 2 for "osc", "sa", "va"; -1 otherwise.
    int indexOf(const QString &name) const
    {
        const Instrument *wanted = instrument(name);
        const Instrument *all[3] = {&osc, &sa, &va};
        for (int i = 0; i < 3; ++i)
            if (wanted && all[i] == wanted)
                return i;
        return -1;
    }
};

Bench::Bench(const Scenario &scenario) : d(std::make_unique<Private>(scenario))
{
    for (const Fault &f : scenario.faults)
        addFault(f);
}

Bench::~Bench()
{
    stop();
}

bool Bench::start(QString *error)
{
    // Restarts the raw-socket servers only; VXI-11 and HiSLIP servers keep running.
    for (auto &server : d->servers)
        server.reset();
    Instrument *instruments[3] = {&d->osc, &d->sa, &d->va};
    const quint16 ports[3] = {d->scenario.oscPort, d->scenario.saPort, d->scenario.vaPort};
    for (int i = 0; i < 3; ++i) {
        d->servers[i] = std::make_unique<SocketServer>(instruments[i]);
        QString e;
        if (!d->servers[i]->listen(ports[i], &e)) {
            if (error)
                *error = QStringLiteral("%1 on port %2: %3").arg(instruments[i]->name()).arg(ports[i]).arg(e);
            for (auto &server : d->servers)
                server.reset();
            return false;
        }
    }
    return true;
}

void Bench::stop()
{
    d->hislip.clear();
    d->vxi11.reset();
    for (auto &server : d->servers)
        server.reset();
}

quint16 Bench::port(const QString &instrument) const
{
    const SocketServer *server = d->server(instrument);
    return server ? server->port() : 0;
}

QString Bench::resource(const QString &instrument) const
{
    const quint16 p = port(instrument);
    return p ? QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(p) : QString();
}

QVector<LogEntry> Bench::log(const QString &instrument) const
{
    const Instrument *i = d->instrument(instrument);
    return i ? i->log() : QVector<LogEntry>();
}

QVector<LogEntry> Bench::log() const
{
    QVector<LogEntry> all = d->osc.log() + d->sa.log() + d->va.log();
    std::sort(all.begin(), all.end(), [](const LogEntry &a, const LogEntry &b) { return a.sequence < b.sequence; });
    return all;
}

QList<QByteArray> Bench::commands(const QString &instrument) const
{
    QList<QByteArray> out;
    for (const LogEntry &e : log(instrument))
        out.append(e.command);
    return out;
}

quint64 Bench::logDropped(const QString &instrument) const
{
    const Instrument *i = d->instrument(instrument);
    return i ? i->logDropped() : 0;
}

void Bench::clearLog()
{
    d->osc.clearLog();
    d->sa.clearLog();
    d->va.clearLog();
}

void Bench::setLogListener(std::function<void(const LogEntry &)> listener)
{
    d->osc.setLogListener(listener);
    d->sa.setLogListener(listener);
    d->va.setLogListener(listener);
}

QVector<Truth> Bench::truths() const
{
    return d->truths.all();
}

void Bench::addFault(const Fault &fault)
{
    if (Instrument *i = d->instrument(fault.instrument))
        i->addFault(fault);
}

void Bench::clearFaults()
{
    d->osc.clearFaults();
    d->sa.clearFaults();
    d->va.clearFaults();
}

bool Bench::startVxi11(QString *error, bool withPortmapper)
{
    d->vxi11.reset();
    Vxi11Server::Options options;
    options.portmapper = withPortmapper;
    const auto host = [&](int i) {
        return withPortmapper ? QStringLiteral("127.0.0.%1").arg(i + 1) : QStringLiteral("127.0.0.1");
    };
    auto server = std::make_unique<Vxi11Server>(
        QVector<Vxi11Server::Device>{{host(0), &d->osc}, {host(1), &d->sa}, {host(2), &d->va}}, options);
    if (!server->start(error))
        return false;
    d->vxi11 = std::move(server);
    return true;
}

QString Bench::vxi11Resource(const QString &instrument) const
{
    const Instrument *wanted = d->instrument(instrument);
    const Instrument *all[3] = {&d->osc, &d->sa, &d->va};
    for (int i = 0; i < 3; ++i) {
        if (d->vxi11 && wanted && all[i] == wanted)
            return d->vxi11->resource(i);
    }
    return QString();
}

bool Bench::startHislip(QString *error, quint16 port, bool perAddress)
{
    d->hislip.clear();
    if (!perAddress) {
        auto server = std::make_unique<HislipServer>(QVector<Endpoint *>{&d->osc, &d->sa, &d->va});
        if (!server->start(port, error))
            return false;
        d->hislip.push_back(std::move(server));
        return true;
    }
    Endpoint *const all[3] = {&d->osc, &d->sa, &d->va};
    for (int i = 0; i < 3; ++i) {
        auto server = std::make_unique<HislipServer>(QVector<Endpoint *>{all[i]});
        // The first picks the port when asked to; the others take the same.
        if (!server->start(i == 0 ? port : d->hislip.front()->port(), error, QStringLiteral("127.0.0.%1").arg(i + 1))) {
            d->hislip.clear();
            return false;
        }
        d->hislip.push_back(std::move(server));
    }
    return true;
}

QString Bench::hislipResource(const QString &instrument) const
{
    const int i = d->indexOf(instrument);
    if (i < 0 || d->hislip.empty())
        return QString();
    return d->hislip.size() == 1 ? d->hislip.front()->resource(i) : d->hislip[size_t(i)]->resource(0);
}

Endpoint *Bench::endpoint(const QString &instrument)
{
    return d->instrument(instrument);
}

const Scenario &Bench::scenario() const
{
    return d->scenario;
}

} // namespace benchsim
