// Finding instruments on the network, inside a private network namespace
// whose bridge (127.77.0.1/24, no ports) carries the broadcasts and mDNS
// multicasts; nothing leaves the namespace. The simulated bench is found by
// broadcast and by mDNS, by the program and by the window's context menu;
// hosts asked directly, hosts that stay silent or answer garbage, and an
// instrument that hangs mid-exchange leave every search ending on time.
#include "app/discover.h"
#include "app/findinstrumentsdialog.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "sim/announcements.h"
#include "sim/bench.h"
#include "sim/mdnsresponder.h"
#include "sim/portmapper.h"
#include "sim/rpclistener.h"
#include "tests/setups/setupbench.h"
#include "tests/vxi11/netns.h"
#include "visa/findreplies.h"
#include "visa/visa.h"
#include "visa/vxi11proto.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A bridge without ports: broadcasts and multicasts sent on it come back
// to this namespace and go nowhere else. 127/8 addresses off the loopback
// interface need route_localnet.
const char NamespaceSetup[] =
    "{ ip link add qvbr0 type bridge && ip link set qvbr0 up"
    " && ip addr add 127.77.0.1/24 brd + dev qvbr0"
    " && echo 1 >/proc/sys/net/ipv4/conf/all/route_localnet"
    " && echo 1 >/proc/sys/net/ipv4/conf/qvbr0/route_localnet; } >/dev/null 2>&1 || true";

bool HaveBroadcastBridge()
{
    ifaddrs *list = nullptr;
    bool found = false;
    if (::getifaddrs(&list) != 0)
        return false;
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && QByteArray(i->ifa_name) == "qvbr0"
            && (i->ifa_flags & IFF_BROADCAST))
            found = true;
    }
    ::freeifaddrs(list);
    return found;
}

QStringList Lines(const QByteArray &text)
{
    return QString::fromLocal8Bit(text).split('\n', Qt::SkipEmptyParts);
}

struct Run
{
    int status = -1;
    QStringList out;
    QString err;
    qint64 ms = 0;
};

Run RunDiscover(const QStringList &args)
{
    Run r;
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(QUENVIA_EXE), QStringList{"--discover"} + args);
    if (!p.waitForFinished(30000))
        p.kill();
    r.ms = t.elapsed();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = Lines(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// The seconds the program says it took ("..., in 0.52 s").
double SecondsTaken(const QString &err)
{
    return err.section(QLatin1String(" in "), -1).section(' ', 0, 0).toDouble();
}

QStringList FindRsrc(ViSession rm, const char *expr, ViStatus *status)
{
    QStringList out;
    ViFindList list = 0;
    ViUInt32 count = 0;
    ViChar desc[VI_FIND_BUFLEN] = {};
    *status = viFindRsrc(rm, expr, &list, &count, desc);
    if (*status != VI_SUCCESS)
        return out;
    out << desc;
    while (viFindNext(list, desc) == VI_SUCCESS)
        out << desc;
    if (out.size() != int(count))
        out << QStringLiteral("count %1 but %2 listed").arg(count).arg(out.size());
    viClose(list);
    return out;
}

// Answers every datagram to ip:port with each of a list of bad datagrams.
class GarbageSender
{
public:
    GarbageSender(const char *ip, uint16_t port, std::vector<std::vector<uint8_t>> replies)
        : replies_(std::move(replies))
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1; // beside the bench's sockets on the wildcard address
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, ip, &sa.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
        thread_ = std::thread([this] { serve(); });
    }
    ~GarbageSender()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    bool bound() const { return bound_; }
    int asked() const { return asked_; }

private:
    void serve()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1)
                continue;
            uint8_t buf[2048];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len) < 0)
                continue;
            ++asked_;
            for (const auto &r : replies_)
                ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
        }
    }

    std::vector<std::vector<uint8_t>> replies_;
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> asked_{0};
    std::thread thread_;
};

// A VXI-11 core channel that links and then never answers: the instrument
// that took the connection and fell silent.
class SilentCore : public benchsim::RecordSession
{
public:
    benchsim::RecordOutcome onRecord(const oncrpc::Bytes &record, oncrpc::Bytes *reply) override
    {
        benchsim::RecordOutcome out;
        oncrpc::XdrReader r(record);
        oncrpc::CallHeader h;
        out.reply = oncrpc::decodeCall(r, &h) && h.proc == vxi11::CreateLink;
        if (out.reply) {
            oncrpc::XdrWriter w;
            w.u32(vxi11::ErrNone);
            w.u32(1);    // lid
            w.u32(0);    // abort port
            w.u32(4096); // maxRecvSize
            *reply = oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes());
        }
        return out;
    }
};

} // namespace

class TestDiscover : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void programsFindEachOther();
    void mdnsAnswersFollowTheQuery();
    void findRsrcFiltersAndBounds();
    void hostsAskedDirectly();
    void garbageIsIgnored();
    void rpcinfoListsThePrograms();
    void contextMenuFillsTheField();
    void cleanupTestCase();

private:
    void startBench();

    QTemporaryDir home_;
    std::unique_ptr<benchsim::Bench> bench_;
    std::unique_ptr<benchsim::MdnsResponder> mdns_;
    QStringList benchLines_; // what --discover lists for the bench
};

void TestDiscover::initTestCase()
{
    if (!inNetNamespace())
        QSKIP(QUENVIA_NETNS_SKIP_MESSAGE);
    QVERIFY(home_.isValid());
    UsePrivateSettings(home_);
    if (!HaveBroadcastBridge())
        QSKIP("no bridge could be made in the namespace to broadcast on");
}

void TestDiscover::startBench()
{
    if (bench_)
        return;
    bench_ = std::make_unique<benchsim::Bench>(benchsim::Scenario());
    QString error;
    QVERIFY2(bench_->start(&error), qPrintable(error));
    QVERIFY2(bench_->startVxi11(&error), qPrintable(error));
    mdns_ = std::make_unique<benchsim::MdnsResponder>(benchsim::mdnsHosts(benchsim::benchAnnouncements(*bench_)));
    std::string why;
    QVERIFY2(mdns_->start(&why), why.c_str());
}

void TestDiscover::cleanupTestCase()
{
    if (mdns_)
        mdns_->stop();
    if (bench_)
        bench_->stop();
}

// benchsim --vxi11 --hislip --mdns as a program, and --discover with its
// default time-out: each instrument over VXI-11, over HiSLIP and over its
// raw socket, with its identity, the instruments' resources side by side.
void TestDiscover::programsFindEachOther()
{
    QProcess sim;
    sim.start(QStringLiteral(BENCHSIM_EXE), {"--vxi11", "--hislip", "--mdns", "--stdin-eof"});
    QVERIFY(sim.waitForStarted());
    QStringList ready;
    while (ready.size() < 3 && sim.waitForReadyRead(10000))
        ready += Lines(sim.readAllStandardOutput());
    QVERIFY2(ready.size() == 3, qPrintable(QString::fromLocal8Bit(sim.readAllStandardError())));
    const auto socket = [&](const char *name) {
        return ready[0].section(QStringLiteral(" %1=").arg(name), 1).section(' ', 0, 0).replace("TCPIP::", "TCPIP0::");
    };

    const Run r = RunDiscover({});
    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(10000));
    QVERIFY2(r.status == 0, qPrintable(QStringLiteral("status %1 after %2 ms: %3").arg(r.status).arg(r.ms).arg(r.err)));
    const QRegularExpression line("^(\\S+) +(.+)$");
    QStringList resources, identities;
    for (const QString &l : r.out) {
        const QRegularExpressionMatch m = line.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        resources << m.captured(1);
        identities << m.captured(2);
    }
    // Over HiSLIP each instrument is hislip0 on its own address.
    const QString hislipPort = ready[2].section(QStringLiteral("hislip0,"), 1).section(':', 0, 0);
    const auto hislip = [&](int host) { return QStringLiteral("TCPIP0::127.0.0.%1::hislip0,%2::INSTR").arg(host).arg(hislipPort); };
    QCOMPARE(resources, QStringList({hislip(2), "TCPIP0::127.0.0.2::inst0::INSTR", socket("sa"), hislip(3),
                                     "TCPIP0::127.0.0.3::inst0::INSTR", socket("va"), hislip(1),
                                     "TCPIP0::127.0.0.1::inst0::INSTR", socket("osc")}));
    const QString sa = "Benchsim,SA-ZS1,000101,1.0", va = "Benchsim,VA-HD1,000201,1.0", osc = "Orvix,SIMSCOPE-4,O000301,1.0";
    QCOMPARE(identities, QStringList({sa, sa, sa, va, va, va, osc, osc, osc}));
    QVERIFY2(r.err.startsWith("9 resources found, 9 answered *IDN?"), qPrintable(r.err));
    // Within its own time-out, as it measures itself (the process start
    // is not its to count).
    QVERIFY2(SecondsTaken(r.err) <= 1.1, qPrintable(r.err));
}

// The simulator's responder and the search's parser, without a network:
// a one-shot query is answered by each host for itself, to the querier,
// and the answers name exactly what the bench serves.
void TestDiscover::mdnsAnswersFollowTheQuery()
{
    const std::vector<benchsim::MdnsHost> hosts = benchsim::mdnsHosts({
        {"osc", "TCPIP::127.0.0.1::5025::SOCKET"},
        {"osc", "TCPIP::127.0.0.1::INSTR"},
        {"sa", "TCPIP::127.0.0.2::hislip0,4881::INSTR"},
        {"va", "TCPIP::127.0.0.3,1024::inst2::INSTR"}, // reached without the portmapper: not announced
    });
    const mdns::Bytes query = visa::lanServicesQuery(0x4242);
    QStringList seen;
    for (const benchsim::MdnsAnswer &a : benchsim::answerMdnsQuery(query.data(), query.size(), 40000, hosts)) {
        mdns::Message m;
        QVERIFY(mdns::parseMessage(a.message.data(), a.message.size(), &m));
        QCOMPARE(m.id, uint16_t(0x4242));
        QCOMPARE(int(m.questions.size()), 4);
        QVERIFY(!a.multicast);
        for (const std::string &r : visa::resourcesInMdnsResponse(a.message.data(), a.message.size(), "192.0.2.1"))
            seen << QStringLiteral("%1 from %2").arg(QString::fromStdString(r)).arg(a.source & 0xff);
    }
    QCOMPARE(seen, QStringList({"TCPIP0::127.0.0.1::inst0::INSTR from 1", "TCPIP0::127.0.0.1::5025::SOCKET from 1",
                                "TCPIP0::127.0.0.2::hislip0,4881::INSTR from 2"}));

    // From port 5353 the answer goes to the group, without id or questions.
    const auto multicast = benchsim::answerMdnsQuery(query.data(), query.size(), mdns::Port, hosts);
    QCOMPARE(int(multicast.size()), 2);
    mdns::Message m;
    QVERIFY(mdns::parseMessage(multicast[0].message.data(), multicast[0].message.size(), &m));
    QVERIFY(multicast[0].multicast && m.id == 0 && m.questions.empty());
    // A response, and a query for what nobody serves, get nothing.
    QVERIFY(benchsim::answerMdnsQuery(multicast[0].message.data(), multicast[0].message.size(), 40000, hosts).empty());
    mdns::Message other;
    other.questions.push_back({mdns::nameFromText("_http._tcp.local"), mdns::PTR, mdns::ClassIn});
    mdns::Bytes otherQuery;
    QVERIFY(mdns::encodeMessage(other, &otherQuery));
    QVERIFY(benchsim::answerMdnsQuery(otherQuery.data(), otherQuery.size(), 40000, hosts).empty());
}

// viFindRsrc itself: expressions pick among what was found, the resource
// manager's time-out bounds the search, find lists behave as VISA's do.
void TestDiscover::findRsrcFiltersAndBounds()
{
    startBench();
    ViSession rm = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);

    ViStatus st = VI_SUCCESS;
    QElapsedTimer t;
    t.start();
    const QStringList instr = FindRsrc(rm, "TCPIP?*INSTR", &st);
    const qint64 ms = t.elapsed();
    QCOMPARE(st, VI_SUCCESS);
    QCOMPARE(instr, QStringList({"TCPIP0::127.0.0.1::inst0::INSTR", "TCPIP0::127.0.0.2::inst0::INSTR",
                                 "TCPIP0::127.0.0.3::inst0::INSTR"}));
    // It listens for the whole time-out, and not much longer.
    QVERIFY2(ms >= 290 && ms < 1300, qPrintable(QString::number(ms)));
    QCOMPARE(FindRsrc(rm, "?*SOCKET", &st).size(), 3);
    // Each way on its own: the broadcast finds the VXI-11 instruments, mDNS
    // (VXI-11 announced too) also the raw sockets.
    mdns_->stop();
    QCOMPARE(FindRsrc(rm, "?*", &st), instr);
    std::string why;
    QVERIFY2(mdns_->start(&why), why.c_str());
    QCOMPARE(FindRsrc(rm, "GPIB?*INSTR", &st), QStringList());
    QCOMPARE(st, VI_ERROR_RSRC_NFOUND);
    FindRsrc(rm, "*INSTR", &st);
    QCOMPARE(st, VI_ERROR_INV_EXPR);

    // Without a list to keep: the count and the first one only.
    ViUInt32 count = 0;
    ViChar first[VI_FIND_BUFLEN] = {};
    QCOMPARE(viFindRsrc(rm, "TCPIP?*INSTR", nullptr, &count, first), VI_SUCCESS);
    QCOMPARE(count, 3u);
    QCOMPARE(QString(first), instr[0]);
    // A find list is no instrument session, and closing the resource
    // manager closes it.
    ViFindList list = 0;
    QCOMPARE(viFindRsrc(rm, "?*", &list, &count, first), VI_SUCCESS);
    ViUInt32 ret = 0;
    QCOMPARE(viWrite(list, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &ret), VI_ERROR_INV_OBJECT);
    QCOMPARE(viFindNext(rm, first), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    QCOMPARE(viFindNext(list, first), VI_ERROR_INV_OBJECT);
}

// Hosts and subnets asked directly: an instrument whose portmapper hears no
// broadcast is found only so. Its core channel links and then never answers,
// and names that resolve to nothing and addresses where nothing listens
// are asked too: the program still ends at its time-out.
void TestDiscover::hostsAskedDirectly()
{
    startBench();
    benchsim::TcpRecordServer core;
    std::string error;
    QVERIFY(core.listen("127.0.0.5", 0, 64 * 1024,
                        [](const std::string &) { return std::make_unique<SilentCore>(); }, &error));
    benchsim::Portmapper portmapper({{vxi11::CoreProgram, vxi11::CoreVersion, portmap::ProtoTcp, core.port()}});
    QVERIFY2(portmapper.listen("127.0.0.5", portmap::Port, &error), error.c_str());

    const Run alone = RunDiscover({"--timeout", "400"});
    QVERIFY(alone.out.join('\n').contains("127.0.0.2"));
    QVERIFY(!alone.out.join('\n').contains("127.0.0.5"));

    const Run r = RunDiscover({"127.0.0.4/30", "127.0.0.66", "nowhere.invalid", "--timeout", "1000"});
    QVERIFY2(r.status == 0, qPrintable(QStringLiteral("status %1 after %2 ms: %3").arg(r.status).arg(r.ms).arg(r.err)));
    const QRegularExpression silent("^TCPIP0::127\\.0\\.0\\.5::inst0::INSTR +\\(no answer to \\*IDN\\? in time\\)$");
    QVERIFY2(!r.out.filter(silent).isEmpty(), qPrintable(r.out.join('\n')));
    QVERIFY(!r.out.join('\n').contains("127.0.0.66"));
    // The silent instrument holds its asker past the time-out (VXI-11 allows
    // a reply a second more); the program does not wait for it.
    QVERIFY2(SecondsTaken(r.err) <= 1.1, qPrintable(r.err));
    QVERIFY2(r.ms < 1900, qPrintable(QString::number(r.ms)));

    const Run bad = RunDiscover({"10.0.0.0/8"});
    QCOMPARE(bad.status, 1);
    QVERIFY2(bad.err.contains("\"10.0.0.0/8\" is no host name"), qPrintable(bad.err));
    portmapper.stop();
    core.stop();
}

// Whatever a host asked directly sends back, over either protocol, adds
// nothing and takes nothing away.
void TestDiscover::garbageIsIgnored()
{
    startBench();
    oncrpc::XdrWriter port0;
    port0.u32(0);
    oncrpc::XdrWriter port1024;
    port1024.u32(1024);
    GarbageSender portmapper("127.0.0.8", portmap::Port,
                             {{1, 2, 3}, std::vector<uint8_t>(9100, 0xff),
                              oncrpc::encodeReply(1, oncrpc::Success, port1024.bytes()), // another call's xid
                              oncrpc::encodeReply(1, oncrpc::Success, port0.bytes()), visa::coreChannelQuery(5)});
    mdns::Bytes loop = {0, 0, 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0xC0, 12, 0, 12, 0, 1, 0, 0, 0, 1, 0, 2, 0xC0, 12};
    mdns::Message query;
    query.questions.push_back({mdns::nameFromText("_lxi._tcp.local"), mdns::PTR, mdns::ClassIn});
    mdns::Bytes asQuery;
    QVERIFY(mdns::encodeMessage(query, &asQuery));
    GarbageSender responder("127.0.0.8", mdns::Port, {loop, asQuery, {0xde, 0xad}, std::vector<uint8_t>(9100, 0)});
    QVERIFY(portmapper.bound() && responder.bound());

    ViSession rm = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 400), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_FIND_HOSTS, ViAttrState(uintptr_t("127.0.0.8"))), VI_SUCCESS);
    ViChar hosts[VI_FIND_BUFLEN] = {};
    QCOMPARE(viGetAttribute(rm, VI_ATTR_FIND_HOSTS, hosts), VI_SUCCESS);
    QCOMPARE(QString(hosts), QStringLiteral("127.0.0.8"));
    QCOMPARE(viSetAttribute(rm, VI_ATTR_FIND_HOSTS, ViAttrState(uintptr_t("127.0.0.8/8"))), VI_ERROR_NSUP_ATTR_STATE);
    ViStatus st = VI_SUCCESS;
    const QStringList found = FindRsrc(rm, "?*", &st);
    viClose(rm);
    QVERIFY(portmapper.asked() > 0 && responder.asked() > 0);
    QCOMPARE(found.size(), 6);
    QVERIFY(!found.join(' ').contains("127.0.0.8"));
}

// An independent ONC RPC client: rpcinfo -p asks the portmapper where it is
// itself, then dumps its table.
void TestDiscover::rpcinfoListsThePrograms()
{
    const QString rpcinfo = QStandardPaths::findExecutable("rpcinfo", {"/usr/sbin", "/sbin", "/usr/bin"});
    if (rpcinfo.isEmpty())
        QSKIP("rpcinfo is not installed (Debian package rpcbind)");
    startBench();
    QProcess p;
    p.start(rpcinfo, {"-p", "127.0.0.1"});
    QVERIFY(p.waitForFinished(10000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    for (const char *program : {"395183    1   tcp", "395184    1   tcp", "100000    2   tcp    111  portmapper",
                                "100000    2   udp    111  portmapper"})
        QVERIFY2(out.contains(program), qPrintable(out));
}

// "Find instruments..." below a resource field's standard menu entries:
// the chosen resource replaces the field's text, and only that changes.
void TestDiscover::contextMenuFillsTheField()
{
    startBench();
    MainWindow w;
    QLineEdit *field = w.form->SaIp;
    const QRect geometry = field->geometry();
    const QString os = w.form->OsIp->text();
    QCOMPARE(field->contextMenuPolicy(), Qt::CustomContextMenu);
    std::unique_ptr<QMenu> menu(FindInstrumentsMenu(field));
    QAction *find = menu->findChild<QAction *>("FindInstruments");
    QVERIFY(find);
    QCOMPARE(find->text(), QStringLiteral("Find instruments..."));
    QVERIFY(menu->actions().size() > 5); // undo, cut, copy, paste, ... stay

    bool driven = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<FindInstrumentsDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        // A failed check below must not leave the dialog open for ever.
        const auto close = qScopeGuard([&] {
            if (!driven)
                dialog->reject();
        });
        auto *list = dialog->findChild<QTreeWidget *>("Found");
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->Searching(), 5000);
        const QList<QTreeWidgetItem *> rows = list->findItems("TCPIP0::127.0.0.2::inst0::INSTR", Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0]->text(1), QStringLiteral("Benchsim,SA-ZS1,000101,1.0"));
        QCOMPARE(list->topLevelItemCount(), 6);
        rows[0]->setSelected(true);
        driven = true;
        dialog->findChild<QDialogButtonBox *>("Buttons")->button(QDialogButtonBox::Ok)->click();
    });
    find->trigger();
    QVERIFY(driven);
    QCOMPARE(field->text(), QStringLiteral("TCPIP0::127.0.0.2::inst0::INSTR"));
    QCOMPARE(field->geometry(), geometry);
    QCOMPARE(w.form->OsIp->text(), os);
    field->undo();
    QVERIFY(field->text() != QStringLiteral("TCPIP0::127.0.0.2::inst0::INSTR"));
}

int main(int argc, char **argv)
{
    reexecInNetNamespace(argc, argv, NamespaceSetup);
    QApplication app(argc, argv);
    TestDiscover test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_discover.moc"
