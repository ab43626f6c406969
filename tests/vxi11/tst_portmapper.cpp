// The simulator's portmapper answers, call by call: what pyvisa-py and
// VISA libraries ask (v2 GETPORT over TCP), what libtirpc asks (v4 then v3
// GETADDR over UDP), DUMP, and calls it must refuse cleanly.
#include "sim/portmapper.h"
#include "visa/vxi11proto.h"

#include <QtTest>

using namespace oncrpc;
using benchsim::PortMapping;

Q_DECLARE_METATYPE(oncrpc::Bytes)

namespace {

const std::vector<PortMapping> table = {
    {vxi11::CoreProgram, vxi11::CoreVersion, portmap::ProtoTcp, 40123},
    {vxi11::AbortProgram, vxi11::AbortVersion, portmap::ProtoTcp, 40124},
};

Bytes ask(uint32_t vers, uint32_t proc, const Bytes &args, uint32_t prog = portmap::Program)
{
    Bytes reply;
    if (!benchsim::answerPortmapperCall(encodeCall(5, prog, vers, proc, args), table, "127.0.0.2", &reply))
        return {};
    return reply;
}

Bytes getPortArgs(uint32_t prog, uint32_t vers, uint32_t prot)
{
    XdrWriter w;
    w.u32(prog);
    w.u32(vers);
    w.u32(prot);
    w.u32(0);
    return w.take();
}

Bytes getAddrArgs(uint32_t prog, uint32_t vers, const std::string &netid)
{
    XdrWriter w;
    w.u32(prog);
    w.u32(vers);
    w.string(netid);
    w.string("");
    w.string("");
    return w.take();
}

} // namespace

class TestPortmapper : public QObject {
    Q_OBJECT
private slots:
    void getPort_data();
    void getPort();
    void getAddr_data();
    void getAddr();
    void dumpV2ListsTheTable();
    void refusals_data();
    void refusals();
};

void TestPortmapper::getPort_data()
{
    QTest::addColumn<uint>("prog");
    QTest::addColumn<uint>("vers");
    QTest::addColumn<uint>("prot");
    QTest::addColumn<uint>("port");
    QTest::newRow("core over TCP") << uint(vxi11::CoreProgram) << 1u << uint(portmap::ProtoTcp) << 40123u;
    QTest::newRow("abort over TCP") << uint(vxi11::AbortProgram) << 1u << uint(portmap::ProtoTcp) << 40124u;
    QTest::newRow("core over UDP: none") << uint(vxi11::CoreProgram) << 1u << uint(portmap::ProtoUdp) << 0u;
    QTest::newRow("core version 2: none") << uint(vxi11::CoreProgram) << 2u << uint(portmap::ProtoTcp) << 0u;
    QTest::newRow("unknown program") << 0x20000000u << 1u << uint(portmap::ProtoTcp) << 0u;
}

void TestPortmapper::getPort()
{
    QFETCH(uint, prog);
    QFETCH(uint, vers);
    QFETCH(uint, prot);
    QFETCH(uint, port);
    const Bytes reply = ask(portmap::Version2, portmap::GetPort, getPortArgs(prog, vers, prot));
    XdrReader r(reply);
    ReplyHeader h;
    QVERIFY(decodeReply(r, &h));
    QVERIFY(h.success());
    QCOMPARE(h.xid, 5u);
    QCOMPARE(r.u32(), port);
    QVERIFY(r.ok());
    QCOMPARE(int(r.remaining()), 0);
}

void TestPortmapper::getAddr_data()
{
    QTest::addColumn<uint>("vers");
    QTest::addColumn<uint>("proc");
    QTest::addColumn<QString>("netid");
    QTest::addColumn<QString>("uaddr");
    // 40123 = 156 * 256 + 187; the address is the one the query came in on.
    QTest::newRow("v4 GETADDR tcp") << 4u << uint(portmap::GetAddr) << "tcp" << "127.0.0.2.156.187";
    QTest::newRow("v3 GETADDR tcp") << 3u << uint(portmap::GetAddr) << "tcp" << "127.0.0.2.156.187";
    QTest::newRow("v4 GETVERSADDR") << 4u << uint(portmap::GetVersAddr) << "tcp" << "127.0.0.2.156.187";
    QTest::newRow("v4 udp: not registered") << 4u << uint(portmap::GetAddr) << "udp" << "";
    QTest::newRow("v3 tcp6: not registered") << 3u << uint(portmap::GetAddr) << "tcp6" << "";
}

void TestPortmapper::getAddr()
{
    QFETCH(uint, vers);
    QFETCH(uint, proc);
    QFETCH(QString, netid);
    QFETCH(QString, uaddr);
    const Bytes reply = ask(vers, proc, getAddrArgs(vxi11::CoreProgram, vxi11::CoreVersion, netid.toStdString()));
    XdrReader r(reply);
    ReplyHeader h;
    QVERIFY(decodeReply(r, &h));
    QVERIFY(h.success());
    QCOMPARE(QString::fromStdString(r.string(100)), uaddr);
    QVERIFY(r.ok());
}

void TestPortmapper::dumpV2ListsTheTable()
{
    const Bytes reply = ask(portmap::Version2, portmap::Dump, {});
    XdrReader r(reply);
    ReplyHeader h;
    QVERIFY(decodeReply(r, &h));
    std::vector<PortMapping> got;
    while (r.boolean() && r.ok()) {
        PortMapping m;
        m.prog = r.u32();
        m.vers = r.u32();
        m.prot = r.u32();
        m.port = uint16_t(r.u32());
        got.push_back(m);
    }
    QVERIFY(r.ok());
    QCOMPARE(int(got.size()), 2);
    QCOMPARE(got[0].prog, vxi11::CoreProgram);
    QCOMPARE(got[0].port, uint16_t(40123));
    QCOMPARE(got[1].prog, vxi11::AbortProgram);
    QCOMPARE(got[1].port, uint16_t(40124));
}

void TestPortmapper::refusals_data()
{
    QTest::addColumn<uint>("prog");
    QTest::addColumn<uint>("vers");
    QTest::addColumn<uint>("proc");
    QTest::addColumn<Bytes>("args");
    QTest::addColumn<uint>("acceptStat");
    QTest::newRow("version 5") << uint(portmap::Program) << 5u << 3u << Bytes{} << uint(ProgMismatch);
    QTest::newRow("version 1") << uint(portmap::Program) << 1u << 3u << Bytes{} << uint(ProgMismatch);
    QTest::newRow("other program") << uint(vxi11::CoreProgram) << 2u << 3u << Bytes{} << uint(ProgUnavail);
    QTest::newRow("CALLIT") << uint(portmap::Program) << 2u << 5u << Bytes{} << uint(ProcUnavail);
    QTest::newRow("truncated GETPORT") << uint(portmap::Program) << 2u << 3u << Bytes{0, 0, 0, 1} << uint(GarbageArgs);
    QTest::newRow("GETADDR netid too long") << uint(portmap::Program) << 4u << 3u
                                            << getAddrArgs(1, 1, std::string(5000, 't')) << uint(GarbageArgs);
}

void TestPortmapper::refusals()
{
    QFETCH(uint, prog);
    QFETCH(uint, vers);
    QFETCH(uint, proc);
    QFETCH(Bytes, args);
    QFETCH(uint, acceptStat);
    const Bytes reply = ask(vers, proc, args, prog);
    XdrReader r(reply);
    ReplyHeader h;
    QVERIFY(decodeReply(r, &h));
    QCOMPARE(h.replyStat, uint32_t(MsgAccepted));
    QCOMPARE(h.acceptStat, acceptStat);
    if (acceptStat == ProgMismatch) {
        QCOMPARE(r.u32(), 2u);
        QCOMPARE(r.u32(), 4u);
    }
}

QTEST_APPLESS_MAIN(TestPortmapper)
#include "tst_portmapper.moc"
