// Pure parts of the VISA library: resource strings, response-message
// delimiting, number replies, HiSLIP message headers, and what a search for
// instruments reads: its targets, viFindRsrc's expressions, mDNS responses
// and portmapper replies.

#include "visa/findreplies.h"
#include "visa/findtargets.h"
#include "visa/hislipproto.h"
#include "visa/messagedelimiter.h"
#include "visa/resource.h"
#include "visa/rsrcexpr.h"
#include "visa/scpinumber.h"
#include "visa/vxi11proto.h"

#include <QLocale>
#include <QtTest>

#include <clocale>
#include <cstring>

using visa::Resource;

class VisaParseTest : public QObject {
    Q_OBJECT

private slots:
    void resource_data();
    void resource();
    void delimiter_data();
    void delimiter();
    void numbers_data();
    void numbers();
    void numbersUnderGermanLocale();
    void hislipHeader_data();
    void hislipHeader();
    void findTargets_data();
    void findTargets();
    void findExpression_data();
    void findExpression();
    void mdnsResponse_data();
    void mdnsResponse();
    void portmapperReply_data();
    void portmapperReply();
};

Q_DECLARE_METATYPE(mdns::Bytes)

void VisaParseTest::resource_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("socket");
    QTest::addColumn<int>("board");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");

    QTest::newRow("socket") << "TCPIP::192.168.1.20::5025::SOCKET" << true << true << 0 << "192.168.1.20" << 5025 << "inst0";
    QTest::newRow("socket board, lower case") << "tcpip3::scope.lab::5025::socket" << true << true << 3 << "scope.lab" << 5025 << "inst0";
    QTest::newRow("instr") << "TCPIP::10.0.0.7::INSTR" << true << false << 0 << "10.0.0.7" << 0 << "inst0";
    QTest::newRow("instr mixed case, board 0") << "TcpIp0::host::Instr" << true << false << 0 << "host" << 0 << "inst0";
    QTest::newRow("instr device") << "TCPIP::host::gpib0,12::INSTR" << true << false << 0 << "host" << 0 << "gpib0,12";
    QTest::newRow("instr host,port") << "TCPIP::host,1024::INSTR" << true << false << 0 << "host" << 1024 << "inst0";
    QTest::newRow("instr without class") << "TCPIP::host" << true << false << 0 << "host" << 0 << "inst0";
    QTest::newRow("ipv6 socket") << "TCPIP::[::1]::5025::SOCKET" << true << true << 0 << "::1" << 5025 << "inst0";
    QTest::newRow("surrounding blanks") << "  TCPIP::h::INSTR \n" << true << false << 0 << "h" << 0 << "inst0";
    QTest::newRow("ipv6 instr, port") << "TCPIP::[fe80::1%eth0],1024::INSTR" << true << false << 0 << "fe80::1%eth0" << 1024 << "inst0";
    QTest::newRow("underscore name") << "TCPIP::lab_scope-2.local::INSTR" << true << false << 0 << "lab_scope-2.local" << 0 << "inst0";
    QTest::newRow("hislip") << "TCPIP0::192.168.1.20::hislip0::INSTR" << true << false << 0 << "192.168.1.20" << 4880 << "hislip0";
    QTest::newRow("hislip port, upper case") << "TCPIP::h::HISLIP2,5000::INSTR" << true << false << 0 << "h" << 5000 << "HISLIP2";
    QTest::newRow("hislip without class") << "TCPIP1::[::1]::hislip0" << true << false << 1 << "::1" << 4880 << "hislip0";

    QTest::newRow("empty") << "" << false << false << 0 << "" << 0 << "";
    QTest::newRow("garbage") << "hello" << false << false << 0 << "" << 0 << "";
    QTest::newRow("other interface") << "GPIB0::12::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("no host") << "TCPIP::::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("socket without port") << "TCPIP::host::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("socket port 0") << "TCPIP::host::0::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("socket port too big") << "TCPIP::host::65536::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("socket port not a number") << "TCPIP::host::http::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("host with blank") << "TCPIP::my host::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("board not a number") << "TCPIPx::host::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("too many fields") << "TCPIP::h::inst0::x::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("unclosed bracket") << "TCPIP::[::1::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("bad host,port") << "TCPIP::host,x::INSTR" << false << false << 0 << "" << 0 << "";
    // Host forms that no look-up can resolve are refused at once.
    QTest::newRow("bracketed list") << "TCPIP::[a,b]::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("bracketed ipv4") << "TCPIP::[10.0.0.1]::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("empty brackets") << "TCPIP::[]::5025::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("comma in socket host") << "TCPIP::a,b::5025::SOCKET" << false << false << 0 << "" << 0 << "";
    QTest::newRow("empty label") << "TCPIP::scope..lab::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("percent in name") << "TCPIP::h%t::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("hislip without number") << "TCPIP::h::hislip::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("hislip bad port") << "TCPIP::h::hislip0,0::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("hislip two ports") << "TCPIP::h::hislip0,1,2::INSTR" << false << false << 0 << "" << 0 << "";
    QTest::newRow("hislip port on host") << "TCPIP::h,4880::hislip0::INSTR" << false << false << 0 << "" << 0 << "";
}

void VisaParseTest::resource()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    Resource r;
    QCOMPARE(visa::parseResource(text.toStdString(), &r), ok);
    if (!ok)
        return;
    QFETCH(bool, socket);
    QFETCH(int, board);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, device);
    QCOMPARE(r.kind == Resource::Kind::Socket, socket);
    QCOMPARE(r.board, board);
    QCOMPARE(QString::fromStdString(r.host), host);
    QCOMPARE(int(r.port), port);
    if (!socket)
        QCOMPARE(QString::fromStdString(r.device), device);
    QCOMPARE(r.kind == Resource::Kind::Hislip, device.startsWith(QLatin1String("hislip"), Qt::CaseInsensitive));
}

void VisaParseTest::delimiter_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("messageLength"); // bytes up to and including the end, -1: not ended

    QTest::newRow("text") << QByteArray("1.5E+00\nNEXT\n") << 8;
    QTest::newRow("block with line feeds") << QByteArray("#16a\nb\nc\n\nX\n") << 10;
    QTest::newRow("empty block") << QByteArray("#10\n") << 4;
    QTest::newRow("80000-byte header") << QByteArray("#580000") << -1;
    QTest::newRow("block after separator") << QByteArray("1,#13\n\n\n\n") << 9;
    QTest::newRow("block after header blank") << QByteArray("CURV #12\n\n\n") << 11;
    QTest::newRow("hash inside a word") << QByteArray("SN#15\nabcde\n") << 6;
    QTest::newRow("hash inside a string") << QByteArray("\"#15\"\nabcde\n") << 6;
    QTest::newRow("indefinite block") << QByteArray("#0ab\n") << 5;
    QTest::newRow("hex number") << QByteArray("#H1F\n") << 5;
    QTest::newRow("header cut by line feed") << QByteArray("#3\n") << 3;
    QTest::newRow("length digits cut by line feed") << QByteArray("#31\n") << 4;
    QTest::newRow("no terminator") << QByteArray("abc") << -1;
}

void VisaParseTest::delimiter()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, messageLength);
    const auto *data = reinterpret_cast<const uint8_t *>(stream.constData());

    // The end must be found however the bytes are split across reads.
    for (int chunk : {1, 2, 3, 7, stream.size()}) {
        visa::MessageDelimiter d;
        int consumed = 0;
        bool ended = false;
        while (!ended && consumed < stream.size()) {
            const int n = qMin(chunk, stream.size() - consumed);
            consumed += int(d.scan(data + consumed, size_t(n), &ended));
        }
        QCOMPARE(ended ? consumed : -1, messageLength);
        if (ended) {
            // Ready for the next message: the remaining bytes start afresh.
            const int rest = stream.size() - consumed;
            const QByteArray tail = stream.mid(consumed);
            bool again = false;
            const int n = int(d.scan(data + consumed, size_t(rest), &again));
            QCOMPARE(again, tail.contains('\n'));
            if (again)
                QCOMPARE(n, tail.indexOf('\n') + 1);
        }
    }
}

void VisaParseTest::numbers_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("realOk");
    QTest::addColumn<double>("real");
    QTest::addColumn<bool>("intOk");
    QTest::addColumn<int>("integer");

    QTest::newRow("NR1") << QByteArray("1\n") << true << 1.0 << true << 1;
    QTest::newRow("NR1 signed") << QByteArray("-12\r\n") << true << -12.0 << true << -12;
    QTest::newRow("NR2") << QByteArray("+0.035\n") << true << 0.035 << false << 0;
    QTest::newRow("NR3 whole") << QByteArray("+3.50000E+01\n") << true << 35.0 << true << 35;
    QTest::newRow("NR3 small") << QByteArray("-6.0e-1") << true << -0.6 << false << 0;
    QTest::newRow("frequency") << QByteArray("5.192E+09\n") << true << 5.192e9 << false << 0;
    QTest::newRow("leading point") << QByteArray(".5\n") << true << 0.5 << false << 0;
    QTest::newRow("int32 max") << QByteArray("2147483647\n") << true << 2147483647.0 << true << 2147483647;
    QTest::newRow("beyond int32") << QByteArray("2147483648\n") << true << 2147483648.0 << false << 0;
    QTest::newRow("decimal comma") << QByteArray("3,5\n") << false << 0.0 << false << 0;
    QTest::newRow("two values") << QByteArray("1,2\n") << false << 0.0 << false << 0;
    QTest::newRow("unit suffix") << QByteArray("35 V\n") << false << 0.0 << false << 0;
    QTest::newRow("text") << QByteArray("ERR\n") << false << 0.0 << false << 0;
    QTest::newRow("empty") << QByteArray("\n") << false << 0.0 << false << 0;
    QTest::newRow("sign only") << QByteArray("+\n") << false << 0.0 << false << 0;
    QTest::newRow("bare exponent") << QByteArray("1E\n") << false << 0.0 << false << 0;
    QTest::newRow("nan") << QByteArray("nan\n") << false << 0.0 << false << 0;
    QTest::newRow("hex") << QByteArray("0x10\n") << false << 0.0 << false << 0;
    QTest::newRow("out of range") << QByteArray("1E400\n") << false << 0.0 << false << 0;
}

void VisaParseTest::numbers()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, realOk);
    QFETCH(double, real);
    QFETCH(bool, intOk);
    QFETCH(int, integer);

    double r = -99;
    QCOMPARE(visa::parseScpiReal(reply.constData(), size_t(reply.size()), &r), realOk);
    QCOMPARE(r, realOk ? real : -99.0); // untouched on failure
    int32_t i = -99;
    QCOMPARE(visa::parseScpiInt(reply.constData(), size_t(reply.size()), &i), intOk);
    QCOMPARE(i, intOk ? integer : -99);
}

// A German locale uses the decimal comma; instrument replies never do.
void VisaParseTest::numbersUnderGermanLocale()
{
    const QByteArray saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("locale de_DE.UTF-8 is not installed");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    double r = 0;
    int32_t i = 0;
    const bool realOk = visa::parseScpiReal("+3.50000E+01\n", 13, &r);
    const bool commaRejected = !visa::parseScpiReal("3,5\n", 4, &r) ;
    const bool pointOk = visa::parseScpiReal("-0.6\n", 5, &r);
    const double pointValue = r;
    const bool intOk = visa::parseScpiInt("+1.00000E+00\n", 13, &i);

    std::setlocale(LC_ALL, saved.constData());
    QLocale::setDefault(QLocale::c());
    QVERIFY(realOk);
    QVERIFY(commaRejected);
    QVERIFY(pointOk);
    QCOMPARE(pointValue, -0.6);
    QVERIFY(intOk);
    QCOMPARE(i, 1);
}

void VisaParseTest::hislipHeader_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("status"); // hislip::HeaderStatus once the stream is in
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("control");
    QTest::addColumn<uint>("param");
    QTest::addColumn<qulonglong>("length");

    const auto ok = int(hislip::HeaderStatus::Ok);
    QTest::newRow("DataEnd, first MessageID") << QByteArray::fromHex("48530701ffffff000000000000000005")
                                              << ok << 7 << 1 << 0xFFFFFF00u << 5ull;
    QTest::newRow("all fields wide") << QByteArray::fromHex("4853fffe80000001ffeeddccbbaa9988")
                                     << int(hislip::HeaderStatus::TooLong) << 255 << 254
                                     << 0x80000001u << 0xffeeddccbbaa9988ull;
    QTest::newRow("at the bound") << QByteArray::fromHex("48530600000000000000000000100000")
                                  << ok << 6 << 0 << 0u << 0x100000ull;
    QTest::newRow("past the bound") << QByteArray::fromHex("48530600000000000000000000100001") << int(hislip::HeaderStatus::TooLong)
                                    << 6 << 0 << 0u << 0x100001ull;
    // Judged on the first wrong byte, not after sixteen.
    QTest::newRow("raw SCPI reply") << QByteArray("1\n") << int(hislip::HeaderStatus::BadPrologue) << 0 << 0 << 0u << 0ull;
    QTest::newRow("lower-case prologue") << QByteArray("Hs") << int(hislip::HeaderStatus::BadPrologue) << 0 << 0 << 0u << 0ull;
    QTest::newRow("half a header") << QByteArray::fromHex("485307000000") << int(hislip::HeaderStatus::Incomplete) << 0 << 0 << 0u
                                   << 0ull;
}

void VisaParseTest::hislipHeader()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, status);
    const auto *data = reinterpret_cast<const uint8_t *>(stream.constData());
    const uint64_t bound = 1 << 20;

    // Whole, in pieces, and byte by byte: the same verdict, no byte taken
    // past the header.
    for (int chunk : {1, 3, 5, stream.size()}) {
        hislip::HeaderReader reader(bound);
        int taken = 0;
        for (int at = 0; at < stream.size(); at += chunk)
            taken += int(reader.feed(data + at, size_t(qMin(chunk, stream.size() - at))));
        QCOMPARE(int(reader.status()), status);
        QVERIFY(taken <= int(hislip::HeaderSize));
        if (status == int(hislip::HeaderStatus::BadPrologue) || status == int(hislip::HeaderStatus::Incomplete))
            continue;
        QFETCH(int, type);
        QFETCH(int, control);
        QFETCH(uint, param);
        QFETCH(qulonglong, length);
        const hislip::Header &h = reader.header();
        QCOMPARE(int(h.type), type);
        QCOMPARE(int(h.control), control);
        QCOMPARE(uint(h.param), param);
        QCOMPARE(qulonglong(h.length), length);
        uint8_t again[hislip::HeaderSize];
        hislip::encodeHeader(h, again);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(again), sizeof again), stream);
        // Ready for the next message after reset(), also when the header
        // arrives through room()/received().
        reader.reset();
        size_t len = 0;
        std::memcpy(reader.room(&len), data, len);
        reader.received(len);
        QCOMPARE(int(reader.status()), status);
    }
}

void VisaParseTest::findTargets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("addresses");
    QTest::addColumn<QString>("names"); // and the first and last address

    QTest::newRow("empty") << "" << true << 0 << "";
    QTest::newRow("one address") << "10.0.0.5" << true << 1 << " 10.0.0.5";
    QTest::newRow("mixed, commas and blanks") << " 10.0.0.5,scope-3.lab  192.168.7.0/30 " << true << 3
                                              << "scope-3.lab 10.0.0.5 192.168.7.2";
    QTest::newRow("a /20 is the most") << "10.1.0.0/20" << true << 4094 << " 10.1.0.1 10.1.15.254";
    QTest::newRow("host bits of a subnet") << "10.1.2.77/24" << true << 254 << " 10.1.2.1 10.1.2.254";
    QTest::newRow("/31 and /32 keep every address") << "10.0.0.0/31 10.0.0.9/32" << true << 3
                                                    << " 10.0.0.0 10.0.0.9";
    QTest::newRow("a /19 is too large") << "10.1.0.0/19" << false << 0 << "";
    QTest::newRow("a /20 and a /24 are too many") << "10.1.0.0/20 10.2.0.0/24" << false << 0 << "";
    QTest::newRow("prefix past 32") << "10.0.0.0/33" << false << 0 << "";
    QTest::newRow("no prefix") << "10.0.0.0/" << false << 0 << "";
    QTest::newRow("mistyped address") << "10.0.0.256" << false << 0 << "";
    QTest::newRow("ipv6") << "fe80::1" << false << 0 << "";
    QTest::newRow("resource string") << "TCPIP::10.0.0.5::INSTR" << false << 0 << "";
    QTest::newRow("seventeen names")
        << "a b c d e f g h i j k l m n o p q" << false << 0 << "";
}

void VisaParseTest::findTargets()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    visa::FindTargets t;
    t.names = {"untouched"};
    QCOMPARE(visa::parseFindTargets(text.toStdString(), &t), ok);
    if (!ok) {
        QCOMPARE(t.names.size(), size_t(1));
        return;
    }
    QFETCH(int, addresses);
    QFETCH(QString, names);
    QCOMPARE(int(t.addresses.size()), addresses);
    const auto dotted = [](uint32_t a) {
        return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 255).arg((a >> 8) & 255).arg(a & 255);
    };
    QStringList seen;
    for (const std::string &n : t.names)
        seen << QString::fromStdString(n);
    QString text2 = seen.join(' ');
    if (!t.addresses.empty())
        text2 += ' ' + dotted(t.addresses.front());
    if (t.addresses.size() > 1)
        text2 += ' ' + dotted(t.addresses.back());
    QCOMPARE(text2, names);
}

void VisaParseTest::findExpression_data()
{
    QTest::addColumn<QString>("expr");
    QTest::addColumn<QString>("matched"); // of the resources below, by index; "-": refused

    // 0 VXI-11, 1 HiSLIP, 2 socket, 3 lower case VXI-11
    QTest::newRow("everything") << "?*" << "0123";
    QTest::newRow("INSTR of any board") << "TCPIP?*INSTR" << "013";
    QTest::newRow("without case") << "tcpip?*::socket" << "2";
    QTest::newRow("one host") << "TCPIP0::10.0.0.5::?*" << "01";
    QTest::newRow("class list") << "TCPIP0::[0-9.]+::[^h]?*INSTR" << "03";
    QTest::newRow("alternatives") << "?*hislip?*|?*SOCKET" << "12";
    QTest::newRow("escaped") << "TCPIP0::10\\.0\\.0\\.5::inst0::INSTR" << "0";
    QTest::newRow("a dot is a dot") << "TCPIP0::10.0.0.5::inst0::INSTR" << "0";
    QTest::newRow("nested repeats") << "(T*C*P*I*P*0*:*)*?*SOCKET" << "2";
    QTest::newRow("empty alternative") << "(x|)TCPIP0::10.0.0.5::?*" << "01";
    QTest::newRow("star first") << "*INSTR" << "-";
    QTest::newRow("star twice") << "TCPIP?**" << "-";
    QTest::newRow("open group") << "(TCPIP?*" << "-";
    QTest::newRow("open list") << "TCPIP[0-9?*" << "-";
    QTest::newRow("attribute condition") << "?*INSTR{VI_ATTR_MANF_ID==0x1234}" << "-";
    QTest::newRow("empty") << "" << "-";
}

void VisaParseTest::findExpression()
{
    QFETCH(QString, expr);
    QFETCH(QString, matched);
    const char *resources[] = {"TCPIP0::10.0.0.5::inst0::INSTR", "TCPIP0::10.0.0.5::hislip0::INSTR",
                               "TCPIP0::10.0.0.6::5025::SOCKET", "tcpip0::10.0.0.7::inst0::instr"};
    const auto e = visa::RsrcExpr::compile(expr.toStdString());
    QCOMPARE(!e, matched == "-");
    if (!e)
        return;
    QString seen;
    for (int i = 0; i < 4; ++i) {
        if (e->matches(resources[i]))
            seen += QString::number(i);
    }
    QCOMPARE(seen, matched);
}

namespace {

mdns::Record mdnsRecord(uint16_t type, const std::string &name, const std::string &target = {}, uint16_t port = 0,
                        uint32_t ipv4 = 0)
{
    mdns::Record r;
    r.type = type;
    r.name = mdns::nameFromText(name);
    r.target = mdns::nameFromText(target);
    r.port = port;
    r.ipv4 = ipv4;
    return r;
}

mdns::Bytes responseOf(const std::vector<mdns::Record> &answers, const std::vector<mdns::Record> &extra = {},
                         uint16_t flags = mdns::FlagResponse)
{
    mdns::Message m;
    m.flags = flags;
    m.answers = answers;
    m.additionals = extra;
    mdns::Bytes out;
    mdns::encodeMessage(m, &out);
    return out;
}

// A response of one PTR record for _scpi-raw._tcp.local (its name at
// offset 12) followed by the bytes of its data.
mdns::Bytes ptrWithData(const mdns::Bytes &data)
{
    mdns::Bytes b = {0, 0, 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    for (const char *label : {"_scpi-raw", "_tcp", "local"}) {
        b.push_back(uint8_t(strlen(label)));
        b.insert(b.end(), label, label + strlen(label));
    }
    b.push_back(0);
    const uint8_t fixed[] = {0, 12, 0, 1, 0, 0, 0, 10, 0, uint8_t(data.size())};
    b.insert(b.end(), fixed, fixed + sizeof fixed);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

} // namespace

void VisaParseTest::mdnsResponse_data()
{
    QTest::addColumn<mdns::Bytes>("message");
    QTest::addColumn<QString>("resources"); // from 192.0.2.9

    using namespace mdns;
    const uint32_t lab = 0x0A010203; // 10.1.2.3
    QTest::newRow("PTR, SRV, A")
        << responseOf({mdnsRecord(PTR, "_hislip._tcp.local", "scope._hislip._tcp.local")},
                        {mdnsRecord(SRV, "scope._hislip._tcp.local", "scope-7.local", 4881),
                         mdnsRecord(A, "scope-7.local", {}, 0, lab)})
        << "TCPIP0::10.1.2.3::hislip0,4881::INSTR";
    QTest::newRow("HiSLIP on its own port") << responseOf({mdnsRecord(PTR, "_hislip._tcp.local", "s._hislip._tcp.local"),
                                                            mdnsRecord(SRV, "s._hislip._tcp.local", "h.local", 4880)})
                                            << "TCPIP0::192.0.2.9::hislip0::INSTR";
    QTest::newRow("PTR alone: registered port at the responder")
        << responseOf({mdnsRecord(PTR, "_SCPI-RAW._TCP.LOCAL", "x._scpi-raw._tcp.local")})
        << "TCPIP0::192.0.2.9::5025::SOCKET";
    QTest::newRow("VXI-11 and LXI of one host, once")
        << responseOf({mdnsRecord(PTR, "_vxi-11._tcp.local", "a._vxi-11._tcp.local"),
                         mdnsRecord(PTR, "_lxi._tcp.local", "a._lxi._tcp.local")},
                        {mdnsRecord(SRV, "a._lxi._tcp.local", "a.local", 80), mdnsRecord(A, "a.local", {}, 0, lab)})
        << "TCPIP0::192.0.2.9::inst0::INSTR TCPIP0::10.1.2.3::inst0::INSTR";
    QTest::newRow("port 0: not offered")
        << responseOf({mdnsRecord(PTR, "_scpi-raw._tcp.local", "x._scpi-raw._tcp.local"),
                         mdnsRecord(SRV, "x._scpi-raw._tcp.local", "h.local", 0)})
        << "";
    QTest::newRow("address 0.0.0.0: the responder's")
        << responseOf({mdnsRecord(PTR, "_scpi-raw._tcp.local", "x._scpi-raw._tcp.local"),
                         mdnsRecord(SRV, "x._scpi-raw._tcp.local", "h.local", 5025), mdnsRecord(A, "h.local")})
        << "TCPIP0::192.0.2.9::5025::SOCKET";
    QTest::newRow("another service") << responseOf({mdnsRecord(PTR, "_http._tcp.local", "x._http._tcp.local")})
                                     << "";
    QTest::newRow("a query") << responseOf({mdnsRecord(PTR, "_lxi._tcp.local", "x._lxi._tcp.local")}, {}, 0) << "";
    QTest::newRow("compressed instance name") << ptrWithData({1, 'x', 0xC0, 12}) << "TCPIP0::192.0.2.9::5025::SOCKET";
    QTest::newRow("pointer to itself") << ptrWithData({1, 'x', 0xC0, 45}) << "";
    QTest::newRow("pointer forward") << ptrWithData({0xC0, 60, 0, 0}) << "";
    QTest::newRow("name past the data") << ptrWithData({5, 'x'}) << "";
    QTest::newRow("reserved label kind") << ptrWithData({0x40, 'x', 0}) << "";
    mdns::Bytes cut = responseOf({mdnsRecord(PTR, "_lxi._tcp.local", "x._lxi._tcp.local")});
    cut.pop_back();
    QTest::newRow("cut short") << cut << "";
    mdns::Bytes longName = {0, 0, 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'a');
    }
    QTest::newRow("name over 255 bytes") << longName << "";
}

void VisaParseTest::mdnsResponse()
{
    QFETCH(mdns::Bytes, message);
    QFETCH(QString, resources);
    QStringList seen;
    for (const std::string &r : visa::resourcesInMdnsResponse(message.data(), message.size(), "192.0.2.9"))
        seen << QString::fromStdString(r);
    QCOMPARE(seen.join(' '), resources);
}

void VisaParseTest::portmapperReply_data()
{
    QTest::addColumn<mdns::Bytes>("reply");
    QTest::addColumn<bool>("answered");

    oncrpc::XdrWriter port;
    port.u32(1024);
    oncrpc::XdrWriter none;
    none.u32(0);
    QTest::newRow("port") << oncrpc::encodeReply(7, oncrpc::Success, port.bytes()) << true;
    QTest::newRow("another call's") << oncrpc::encodeReply(8, oncrpc::Success, port.bytes()) << false;
    QTest::newRow("not registered") << oncrpc::encodeReply(7, oncrpc::Success, none.bytes()) << false;
    QTest::newRow("no such program") << oncrpc::encodeReply(7, oncrpc::ProgUnavail) << false;
    QTest::newRow("denied") << oncrpc::encodeRpcMismatch(7) << false;
    QTest::newRow("no result") << oncrpc::encodeReply(7, oncrpc::Success) << false;
    QTest::newRow("our own query") << visa::coreChannelQuery(7) << false;
}

void VisaParseTest::portmapperReply()
{
    QFETCH(mdns::Bytes, reply);
    QFETCH(bool, answered);
    QCOMPARE(visa::coreChannelAnswered(reply.data(), reply.size(), 7), answered);
}

QTEST_GUILESS_MAIN(VisaParseTest)
#include "tst_visaparse.moc"
