// The instrument models through their transport-independent interface:
// command sets, error queue, state that changes replies, timing, faults.
#include "sim/bench.h"

#include <QtEndian>
#include <QtTest>

using namespace benchsim;

namespace {

Scenario scenarioOf(const char *type)
{
    Scenario s;
    s.oscType = QLatin1String(type);
    s.benloPoints = 1200;
    return s;
}

QByteArray reply(Endpoint *e, const QByteArray &message)
{
    const Response r = e->handle(message);
    return r.action == Response::Action::Reply ? r.bytes : QByteArray();
}

} // namespace

class TestSimInstruments : public QObject {
    Q_OBJECT
private slots:
    void commandSets_data();
    void commandSets();
    void otherTypeCommandsAreUnknown();
    void headersNamingNoChannel_data();
    void headersNamingNoChannel();
    void errorQueue();
    void recordLengthAndFormat();
    void channelOff();
    void timing();
    void unreachableTriggerLevel();
    void analyzers();
    void faults_data();
    void faults();
    void faultOccurrence();
    void floodsStayBounded();
};

// What the application's set-ups and measurement run send, as sent.
void TestSimInstruments::commandSets_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QByteArrayList>("messages");
    QTest::newRow("Orvix set-up") << "Orvix" << "osc" << QByteArrayList{
        "SYST:ERR?", "*RST;*OPC?", "ACQ:POIN:AUTO 1;*OPC?", "TIM:RANG 1.0;*OPC?", "ACQ:POIN 20000;*OPC?",
        "EXP:WAV:RAW ON;*OPC?", "CHAN1 ON;STOP;*OPC?", "SYST:DISP:UPD ON;*OPC?", "CHAN1 ON;CHAN1:RANG 0.5;*OPC?",
        "CHAN1:POS -2.0;CHAN1:COUP DC;*OPC?", "CHAN2 ON;CHAN2:RANG 0.5;*OPC?", "CHAN2:POS -2.0;CHAN2:COUP DC;*OPC?",
        "CHAN3 ON;CHAN3:RANG 0.5;*OPC?", "CHAN3:POS -3.0;CHAN3:COUP DC;*OPC?", "CHAN3:TYPE RMS;*OPC?",
        "TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?", "CHAN3:SCAL 200e-3;*OPC?", "CHAN:DIGF:CUT 100e3;*OPC?",
        "CHAN1:BAND B20;*OPC?", "TRIG1:LEV1 0.035;*OPC?", "TRIG1:MODE NORM;*OPC?", "TRIG1:ANED:NREJ ON;*OPC?",
        "TRIG1:HOLD:MODE TIME;*OPC?", "TRIG1:HOLD:TIME 1.3;*OPC?", "TRIG1:OUT:STAT ON;*OPC?", "FORM ASC;*OPC?",
        "EXP:WAV:INCX OFF;*OPC?", "RUN;*OPC?"};
    QTest::newRow("Orvix run") << "Orvix" << "osc" << QByteArrayList{
        "INIT:CONT OFF;*OPC?", "*TRG;*OPC?", "FORM REAL,32;*OPC?", "RUNC;*OPC?"};
    QTest::newRow("Benlo set-up") << "Benlo" << "osc" << QByteArrayList{
        "TRIG:B:ENAB OFF;*OPC?", "TRIG:A:TYPE EDGE;*OPC?", "TRIG:A:SOUR CH1;*OPC?", "TRIG:A:ENAB ON;*OPC?",
        "TRIG:A:MODE NORM;*OPC?", "TRIG:A:EDGE:SLOP POS;*OPC?", "TRIG:A:EDGE:COUP DC;*OPC?",
        "TRIG:A:EDGE:FILT:LPAS ON;*OPC?", "TRIG:A:LEV1 0;*OPC?", "ACQ:WRAT MSAM;*OPC?", "TIM:SCAL 0.1;*OPC?",
        "TIM:POS 0.0;*OPC?", "TIM:REF 50;*OPC?", "CHAN2:STAT ON;*OPC?", "CHAN2:SCAL 0.05;*OPC?",
        "CHAN2:POS -3.0;*OPC?", "CHAN2:COUP DCL;*OPC?", "CHAN2:TYPE SAMP;*OPC?", "CHAN2:BAND B20;*OPC?",
        "CHAN1:STAT ON;*OPC?", "CHAN1:SCAL 0.05;*OPC?", "CHAN1:POS -3.0;*OPC?", "CHAN1:COUP DCL;*OPC?",
        "CHAN1:TYPE SAMP;*OPC?", "CHAN1:BAND B20;*OPC?"};
    QTest::newRow("Benlo run") << "Benlo" << "osc" << QByteArrayList{
        "SING;*OPC?", "FORM REAL,32;*OPC?", "*TRG;*OPC?", "RUN;*OPC?"};
    QTest::newRow("analyzer set-up and run") << "Orvix" << "sa" << QByteArrayList{
        "FREQ:MODE SW;*OPC?", "DISP:TRAC:Y:RLEV 0.0;*OPC?", "INP1:ATT 0.0;*OPC?", "FREQ:CENT 5.192e+09;*OPC?",
        "FREQ:SPAN 0;*OPC?", "TRIG1:SOUR EXT;*OPC?", "SWE:TIME 1.2;*OPC?", "SWE:POIN 20001;*OPC?",
        "SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO;*OPC?", "BWID 50e6;*OPC?", "BWID:VID 20e3;*OPC?",
        "TRIG1:HOLD -0.6;*OPC?", "TRIG1:SLOP POS;*OPC?", "OUTP:IF VID;*OPC?", "OUTP:IF:IFFR 2.0;*OPC?",
        "INIT:CONT OFF;*OPC?", "SWE:POIN 20000;*OPC?", "FORM REAL,32;*OPC?", "INIT:CONT ON;*OPC?"};
    QTest::newRow("video analyzer") << "Orvix" << "va" << QByteArrayList{
        "*RST;*OPC?", "SYST:DISP:UPD ON;*OPC?", "CONF:AVDA:TTV:APL:THR 35;*OPC?", "CONF:AVDA:TTV:APL:HYST 5;*OPC?",
        "INIT:AVDA;*OPC?"};
}

void TestSimInstruments::commandSets()
{
    QFETCH(QString, type);
    QFETCH(QString, instrument);
    QFETCH(QByteArrayList, messages);
    Bench bench(scenarioOf(qPrintable(type)));
    Endpoint *e = bench.endpoint(instrument);
    for (const QByteArray &m : messages) {
        const QByteArray r = reply(e, m);
        if (m.endsWith("*OPC?"))
            QVERIFY2(r == "1\n", m.constData());
    }
    QCOMPARE(reply(e, "SYST:ERR?"), QByteArray("0,\"No error\"\n"));
    const QVector<LogEntry> log = bench.log(instrument);
    QCOMPARE(log.size(), messages.size() + 1);
    for (const LogEntry &entry : log)
        QVERIFY2(!entry.unknown, entry.command.constData());
    QCOMPARE(bench.commands(instrument).mid(0, messages.size()), messages);
}

void TestSimInstruments::otherTypeCommandsAreUnknown()
{
    Bench orvix(scenarioOf("Orvix"));
    Bench benlo(scenarioOf("Benlo"));
    QCOMPARE(reply(orvix.endpoint("osc"), "TRIG:A:SOUR CH1;*OPC?"), QByteArray("1\n"));
    QVERIFY(orvix.log("osc").last().unknown);
    QCOMPARE(reply(benlo.endpoint("osc"), "ACQ:POIN 20000;*OPC?"), QByteArray("1\n"));
    QVERIFY(benlo.log("osc").last().unknown);
    QCOMPARE(reply(benlo.endpoint("osc"), "SYST:ERR?"), QByteArray("-113,\"Undefined header\"\n"));
}

// The channel tables use "CHAN#" for CHAN1..CHAN4; sent literally it is no
// channel at all and once indexed channel -1.
void TestSimInstruments::headersNamingNoChannel_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("Orvix data") << "Orvix" << QByteArray("CHAN#:DATA?");
    QTest::newRow("Orvix on") << "Orvix" << QByteArray("CHAN# ON");
    QTest::newRow("Orvix query") << "Orvix" << QByteArray("CHAN#?");
    QTest::newRow("Benlo data") << "Benlo" << QByteArray("CHAN#:DATA?");
    QTest::newRow("Benlo state") << "Benlo" << QByteArray("CHAN#:STAT ON");
    QTest::newRow("channel 0") << "Orvix" << QByteArray("CHAN0:DATA?");
}

void TestSimInstruments::headersNamingNoChannel()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, message);
    Bench bench(scenarioOf(qPrintable(type)));
    Endpoint *e = bench.endpoint("osc");
    reply(e, "FORM REAL,32");
    QCOMPARE(reply(e, message), QByteArray());
    QVERIFY(bench.log("osc").last().unknown);
    // The state next to the channel flags is untouched.
    QCOMPARE(reply(e, "FORM?"), QByteArray("REAL,32\n"));
}

void TestSimInstruments::errorQueue()
{
    Bench bench(scenarioOf("Orvix"));
    Endpoint *e = bench.endpoint("osc");
    // A query the instrument does not know gets no answer at all.
    QCOMPARE(e->handle("BOGUS?").action, Response::Action::None);
    QCOMPARE(reply(e, "ACQ:POIN 1"), QByteArray()); // out of range: a command error, no reply
    QCOMPARE(reply(e, "SYST:ERR?;SYST:ERR?;SYST:ERR?"),
             QByteArray("-113,\"Undefined header\";-222,\"Data out of range\";0,\"No error\"\n"));
    for (int i = 0; i < 15; ++i)
        e->handle("BOGUS");
    QByteArrayList entries;
    for (int i = 0; i < 11; ++i)
        entries << reply(e, "SYST:ERR?").trimmed();
    QCOMPARE(entries.count("-113,\"Undefined header\""), 9);
    QCOMPARE(entries.at(9), QByteArray("-350,\"Queue overflow\""));
    QCOMPARE(entries.at(10), QByteArray("0,\"No error\""));
    e->handle("BOGUS;*CLS");
    QCOMPARE(reply(e, "SYST:ERR?"), QByteArray("0,\"No error\"\n"));
}

void TestSimInstruments::recordLengthAndFormat()
{
    Bench orvix(scenarioOf("Orvix"));
    Endpoint *e = orvix.endpoint("osc");
    reply(e, "ACQ:POIN 500;*TRG;*OPC?");
    // Power-on format is ASCII.
    QCOMPARE(reply(e, "CHAN1:DATA?").count(','), 499);
    reply(e, "FORM REAL,32");
    QVERIFY(reply(e, "CHAN1:DATA?").startsWith("#42000"));
    QCOMPARE(reply(e, "ACQ:POIN?;FORM?"), QByteArray("500;REAL,32\n"));
    // The record keeps the length it was taken with.
    reply(e, "ACQ:POIN 800");
    QVERIFY(reply(e, "CHAN1:DATA?").startsWith("#42000"));
    reply(e, "*TRG");
    QVERIFY(reply(e, "CHAN1:DATA?").startsWith("#43200"));
    // *RST returns to ASCII.
    reply(e, "*RST;*TRG");
    QCOMPARE(reply(e, "CHAN1:DATA?").count(','), 9999);

    Bench benlo(scenarioOf("Benlo"));
    reply(benlo.endpoint("osc"), "FORM REAL,32;*TRG");
    const QByteArray block = reply(benlo.endpoint("osc"), "CHAN1:DATA?");
    QVERIFY(block.startsWith("#44800"));
    // The log keeps the head of a block and its size, not every block sent.
    QCOMPARE(benlo.log("osc").last().reply, block.left(LogReplyBytes));
    QCOMPARE(benlo.log("osc").last().replySize, 4807);
    QCOMPARE(benlo.truths().size(), 1);
    QCOMPARE(benlo.truths().at(0).points, 1200);
}

void TestSimInstruments::channelOff()
{
    Bench bench(scenarioOf("Orvix"));
    Endpoint *e = bench.endpoint("osc");
    // After power-on only channel 1 is on.
    reply(e, "ACQ:POIN 100;*TRG");
    QCOMPARE(reply(e, "CHAN1?;CHAN2?"), QByteArray("1;0\n"));
    const QByteArrayList off = reply(e, "CHAN2:DATA?").trimmed().split(',');
    QCOMPARE(off.size(), 100);
    QCOMPARE(off.count("0"), 100);
    QCOMPARE(reply(e, "SYST:ERR?"), QByteArray("-221,\"Settings conflict;channel off\"\n"));
    reply(e, "CHAN2 ON");
    QVERIFY(reply(e, "CHAN2:DATA?").trimmed().split(',').count("0") < 100);

    // Switched on at the front panel before any remote command, off again after a reset.
    Scenario s = scenarioOf("Benlo");
    s.frontPanelChannels = {3};
    Bench panel(s);
    Endpoint *p = panel.endpoint("osc");
    QCOMPARE(reply(p, "CHAN1:STAT?;CHAN2:STAT?;CHAN3:STAT?"), QByteArray("1;0;1\n"));
    QVERIFY(reply(p, "CHAN3:DATA?").trimmed().split(',').count("0") < 100);
    QCOMPARE(reply(p, "*RST;CHAN3:STAT?"), QByteArray("0\n"));
}

void TestSimInstruments::timing()
{
    Scenario s = scenarioOf("Benlo");
    s.acquisitionMs = 300;
    s.latencyMs = 7;
    Bench bench(s);
    Endpoint *e = bench.endpoint("osc");
    QCOMPARE(e->handle("SING;*OPC?").delayMs, 7);
    const Response trg = e->handle("*TRG;*OPC?");
    QCOMPARE(trg.delayMs, 307);
    QCOMPARE(trg.bytes, QByteArray("1\n"));
    QCOMPARE(bench.endpoint("va")->handle("*IDN?").delayMs, 7);
    // Hours of acquisitions in one message: the delay saturates, never wraps.
    Scenario slow = scenarioOf("Orvix");
    slow.acquisitionMs = 3600000;
    Bench slowBench(slow);
    const QByteArray triggers = "ACQ:POIN 2;" + QByteArray("*TRG;").repeated(600) + "*OPC?";
    QVERIFY(slowBench.endpoint("osc")->handle(triggers).delayMs >= 3600000);
}

void TestSimInstruments::unreachableTriggerLevel()
{
    Bench bench(scenarioOf("Orvix"));
    Endpoint *e = bench.endpoint("osc");
    // The source steps 0.15 V: a higher edge-trigger level never fires.
    reply(e, "TRIG1:LEV1 0.2;*OPC?");
    QCOMPARE(e->handle("*TRG;*OPC?").action, Response::Action::None);
    QCOMPARE(bench.truths().size(), 0);
    reply(e, "TRIG1:LEV1 0.035");
    QCOMPARE(reply(e, "*TRG;*OPC?"), QByteArray("1\n"));
    QCOMPARE(bench.truths().size(), 1);
}

void TestSimInstruments::analyzers()
{
    Scenario s = scenarioOf("Orvix");
    s.saIdn = "Maker,briska 7,1,2";
    s.vaStat = 3;
    s.vaCount = 42;
    s.vaValue = 35.25;
    Bench bench(s);
    Endpoint *sa = bench.endpoint("sa");
    QCOMPARE(reply(sa, "*IDN?"), QByteArray("Maker,briska 7,1,2\n"));
    QCOMPARE(reply(sa, "TRAC? TRACE1, 5").trimmed().split(',').size(), 5);
    QCOMPARE(reply(sa, "SWE:POIN 7;SWE:POIN?"), QByteArray("7\n"));
    QCOMPARE(reply(sa, "TRAC? TRACE1").trimmed().split(',').size(), 7);
    QCOMPARE(sa->handle("TRAC? TRACE2, 5").action, Response::Action::None);
    QCOMPARE(sa->handle("TRAC? TRACE1, 1").action, Response::Action::None);
    QCOMPARE(reply(sa, "SYST:ERR?;SYST:ERR?"), QByteArray("-222,\"Data out of range\";-222,\"Data out of range\"\n"));
    reply(sa, "FORM REAL,32");
    QVERIFY(reply(sa, "TRAC? TRACE1, 20000").startsWith("#580000"));

    Endpoint *va = bench.endpoint("va");
    QCOMPARE(reply(va, "READ:AVDA:TTV:STAT?"), QByteArray("3\n"));
    QCOMPARE(reply(va, "READ:AVDA:TTV:COUN?"), QByteArray("42\n"));
    QCOMPARE(reply(va, "READ:AVDA:TTV:VAL?"), QByteArray("35.25\n"));
    QCOMPARE(reply(va, "CONF:AVDA:TTV:APL:THR 35;CONF:AVDA:TTV:APL:THR?"), QByteArray("35\n"));
}

void TestSimInstruments::faults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("deviceError");
    using A = Response::Action;
    using K = Fault::Kind;
    // Record of 2 samples: "#18" + 8 data bytes + "\n".
    const QByteArray data = QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08");
    QTest::newRow("no reply") << int(K::NoReply) << int(A::None) << QByteArray() << 0 << 0;
    QTest::newRow("close") << int(K::Close) << int(A::Close) << QByteArray() << 0 << 0;
    QTest::newRow("late") << int(K::Late) << int(A::Reply) << QByteArray("#18" + data + "\n") << 900 << 0;
    QTest::newRow("garbage") << int(K::Garbage) << int(A::Reply) << QByteArray("?garbage?\n") << 0 << 0;
    QTest::newRow("digit 0") << int(K::BlockDigit0) << int(A::Reply) << QByteArray("#0" + data + "\n") << 0 << 0;
    QTest::newRow("non-digit") << int(K::BlockNonDigit) << int(A::Reply) << QByteArray("#x8" + data + "\n") << 0 << 0;
    QTest::newRow("short length") << int(K::BlockShortLength) << int(A::Reply) << QByteArray("#28\n") << 0 << 0;
    QTest::newRow("short data") << int(K::BlockShortData) << int(A::Reply) << QByteArray("#18\x01\x02\x03\x04\n") << 0
                                << 0;
    QTest::newRow("huge count") << int(K::BlockHugeCount) << int(A::Reply) << QByteArray("#9999999999" + data + "\n")
                                << 0 << 0;
    QTest::newRow("io timeout") << int(K::DeviceIoTimeout) << int(A::DeviceError) << QByteArray() << 0 << 15;
    QTest::newRow("io error") << int(K::DeviceIoError) << int(A::DeviceError) << QByteArray() << 0 << 17;
}

void TestSimInstruments::faults()
{
    QFETCH(int, kind);
    QFETCH(int, action);
    QFETCH(QByteArray, bytes);
    QFETCH(int, delayMs);
    QFETCH(int, deviceError);
    Bench bench(scenarioOf("Orvix"));
    Endpoint *e = bench.endpoint("osc");
    reply(e, "ACQ:POIN 2;FORM REAL,32;*TRG");
    const QByteArray clean = reply(e, "CHAN1:DATA?");
    // Put known data bytes into the block so the expected replies can be spelt out.
    QCOMPARE(clean.size(), 12);
    Fault f;
    f.instrument = "osc";
    f.pattern = "DATA?";
    f.kind = Fault::Kind(kind);
    f.delayMs = 900;
    bench.addFault(f);
    Response r = e->handle("CHAN1:DATA?");
    QByteArray expected = bytes;
    const QByteArray data = clean.mid(3, 8);
    expected.replace(QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08"), data);
    expected.replace(QByteArray("\x01\x02\x03\x04"), data.left(4));
    QCOMPARE(int(r.action), action);
    QCOMPARE(r.bytes, expected);
    QCOMPARE(r.delayMs, delayMs);
    QCOMPARE(r.deviceError, deviceError);
    QCOMPARE(bench.log("osc").last().fault, Fault::kindName(f.kind));
    QCOMPARE(bench.log("osc").last().reply, r.action == Response::Action::Reply ? expected : QByteArray());
    // Messages that do not match are untouched.
    QCOMPARE(reply(e, "*OPC?"), QByteArray("1\n"));
    bench.clearFaults();
    QCOMPARE(reply(e, "CHAN1:DATA?"), clean);
}

void TestSimInstruments::faultOccurrence()
{
    Scenario s = scenarioOf("Orvix");
    Fault f;
    f.instrument = "osc";
    f.pattern = "*OPC?";
    f.occurrence = 2;
    f.kind = Fault::Kind::NoReply;
    s.faults.append(f);
    Bench bench(s);
    Endpoint *e = bench.endpoint("osc");
    QCOMPARE(reply(e, "CHAN1 ON;*OPC?"), QByteArray("1\n"));
    QCOMPARE(reply(e, "*IDN?").isEmpty(), false); // no match: does not count
    QCOMPARE(e->handle("CHAN2 ON;*OPC?").action, Response::Action::None);
    QCOMPARE(reply(e, "CHAN3 ON;*OPC?"), QByteArray("1\n"));
    // The faulted message was still executed.
    QCOMPARE(reply(e, "CHAN2?"), QByteArray("1\n"));
    QStringList faults;
    for (const LogEntry &l : bench.log("osc"))
        faults << l.fault;
    QCOMPARE(faults, (QStringList{"", "", "NoReply", "", ""}));
}

// What one message can make an instrument build or keep is bounded, and
// blocks are made once per acquisition, not once per read.
void TestSimInstruments::floodsStayBounded()
{
    Bench bench(scenarioOf("Orvix"));
    Endpoint *e = bench.endpoint("osc");
    // Sixty 40 MB records in one response: refused whole, the error queued,
    // nothing built past the first (which also makes the first acquisition).
    const QByteArray amplifying = "ACQ:POIN 10000000;FORM REAL,32;" + QByteArray("CHAN1:DATA?;").repeated(60);
    QCOMPARE(e->handle(amplifying).action, Response::Action::None);
    QCOMPARE(reply(e, "SYST:ERR?;*OPC?"), QByteArray("-225,\"Out of memory;response too long\";1\n"));

    // Two records fit, joined; one alone is the block kept for the acquisition, not a copy.
    reply(e, "ACQ:POIN 2000000;*TRG");
    const Response one = e->handle("CHAN1:DATA?");
    QCOMPARE(one.bytes.size(), 2 + 7 + 8000000 + 1);
    QCOMPARE(e->handle("CHAN1:DATA?").bytes.constData(), one.bytes.constData());
    const QByteArray two = reply(e, "CHAN1:DATA?;CHAN2:DATA?");
    QCOMPARE(two.size(), 2 * (9 + 8000000) + 2);
    QCOMPARE(two.left(one.bytes.size() - 1), one.bytes.chopped(1));
    QCOMPARE(two.at(one.bytes.size() - 1), ';');
    QCOMPARE(reply(e, "SYST:ERR?"), QByteArray("-221,\"Settings conflict;channel off\"\n"));

    // A message of a hundred thousand triggers keeps the latest truths only, numbered on.
    const int triggers = KeptTruths + 10;
    reply(e, "ACQ:POIN 2;" + QByteArray("*TRG;").repeated(triggers));
    const QVector<Truth> truths = bench.truths();
    QCOMPARE(truths.size(), KeptTruths);
    QCOMPARE(truths.last().index, triggers + 1); // after the two acquisitions above
    QCOMPARE(truths.first().index, triggers + 2 - KeptTruths);
    QVERIFY(bench.endpoint("sa")->handle("FORM REAL,32;TRAC? TRACE1, 100").bytes.startsWith("#3400"));
    QCOMPARE(bench.truths().last().saPoints, 100);

    // The log keeps a head of every message and the latest LogEntries of them.
    QCOMPARE(bench.log("osc").last().commandSize, 11 + 5 * triggers);
    QCOMPARE(bench.log("osc").last().command.size(), LogCommandBytes);
    for (int i = 0; i < LogEntries; ++i)
        e->handle("*CLS");
    QCOMPARE(bench.log("osc").size(), LogEntries);
    QCOMPARE(bench.logDropped("osc"), quint64(8));
    QCOMPARE(bench.log("osc").first().command, QByteArray("*CLS"));
}

QTEST_APPLESS_MAIN(TestSimInstruments)
#include "tst_siminstruments.moc"
