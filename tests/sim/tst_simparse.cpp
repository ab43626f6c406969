// Parsing on the simulator's side: program messages, block formats,
// scenarios and fault options.
#include "sim/scenario.h"
#include "sim/scpi.h"

#include <QtEndian>
#include <QtTest>

using namespace benchsim;

class TestSimParse : public QObject {
    Q_OBJECT
private slots:
    void splitMessage_data();
    void splitMessage();
    void channelPattern_data();
    void channelPattern();
    void floatBlockRoundTrip();
    void blockPayload_data();
    void blockPayload();
    void scenarioJson();
    void scenarioJsonErrors_data();
    void scenarioJsonErrors();
    void faultOption_data();
    void faultOption();
};

void TestSimParse::splitMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("two with opc") << QByteArray("CHAN1 ON;STOP;*OPC?") << QStringList{"CHAN1", "STOP", "*OPC?"}
                                  << QStringList{"ON", "", ""};
    QTest::newRow("comma in args") << QByteArray("FORM REAL,32;*OPC?") << QStringList{"FORM", "*OPC?"}
                                   << QStringList{"REAL,32", ""};
    QTest::newRow("query with args") << QByteArray("TRAC? TRACE1, 20000") << QStringList{"TRAC?"}
                                     << QStringList{"TRACE1, 20000"};
    QTest::newRow("lower case, blanks") << QByteArray("  chan2:pos -3.0 ; *opc? ") << QStringList{"CHAN2:POS", "*OPC?"}
                                        << QStringList{"-3.0", ""};
    QTest::newRow("quoted semicolon") << QByteArray("SYST:DISP:TEXT 'a;b';*OPC?")
                                      << QStringList{"SYST:DISP:TEXT", "*OPC?"} << QStringList{"'a;b'", ""};
    QTest::newRow("empty commands") << QByteArray(";;*IDN?;") << QStringList{"*IDN?"} << QStringList{""};
    QTest::newRow("nothing") << QByteArray("") << QStringList{} << QStringList{};
}

void TestSimParse::splitMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, args);
    const QList<Command> cmds = benchsim::splitMessage(message);
    QStringList gotHeaders, gotArgs;
    for (const Command &c : cmds) {
        gotHeaders << QString::fromLatin1(c.header);
        gotArgs << QString::fromLatin1(c.args);
        QCOMPARE(c.query, c.header.endsWith('?'));
    }
    QCOMPARE(gotHeaders, headers);
    QCOMPARE(gotArgs, args);
}

void TestSimParse::channelPattern_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("channel");
    QTest::newRow("channel 2") << QByteArray("CHAN2:RANG") << QByteArray("CHAN#:RANG") << 2;
    QTest::newRow("bare channel") << QByteArray("CHAN1") << QByteArray("CHAN#") << 1;
    QTest::newRow("data query") << QByteArray("CHAN3:DATA?") << QByteArray("CHAN#:DATA?") << 3;
    QTest::newRow("no suffix") << QByteArray("CHAN:DIGF:CUT") << QByteArray("CHAN:DIGF:CUT") << 0;
    QTest::newRow("channel 5") << QByteArray("CHAN5:POS") << QByteArray("CHAN5:POS") << 0;
    QTest::newRow("channel 12") << QByteArray("CHAN12") << QByteArray("CHAN12") << 0;
    QTest::newRow("other") << QByteArray("TRIG1:LEV1") << QByteArray("TRIG1:LEV1") << 0;
}

void TestSimParse::channelPattern()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, pattern);
    QFETCH(int, channel);
    int got = -1;
    QCOMPARE(benchsim::channelPattern(header, &got), pattern);
    QCOMPARE(got, channel);
}

void TestSimParse::floatBlockRoundTrip()
{
    QVector<float> samples;
    for (int i = 0; i < 20000; ++i)
        samples.append(float(i) * 0.25f - 7.0f);
    // Data bytes that look like line feeds must not matter to a block.
    samples[5] = qFromLittleEndian<float>("\n\n\n\n");
    const QByteArray block = floatBlock(samples);
    QVERIFY(block.startsWith("#580000"));
    QCOMPARE(block.size(), 7 + 80000);
    const QByteArray payload = benchsim::blockPayload(block + '\n');
    QCOMPARE(payload.size(), 80000);
    for (int i = 0; i < samples.size(); ++i)
        QCOMPARE(qFromLittleEndian<float>(payload.constData() + 4 * i), samples[i]);
    QCOMPARE(floatBlock(QVector<float>()), QByteArray("#10"));
    QCOMPARE(asciiList(QVector<float>{0.035f, -1.5f, 1e-7f}), QByteArray("0.035,-1.5,1e-07"));
}

void TestSimParse::blockPayload_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("block") << QByteArray("#14abcd\n") << QByteArray("abcd");
    QTest::newRow("empty block") << QByteArray("#10\n") << QByteArray("");
    QTest::newRow("text") << QByteArray("1\n") << QByteArray("1");
    QTest::newRow("short block is text") << QByteArray("#19ab\n") << QByteArray("#19ab");
    QTest::newRow("nothing") << QByteArray() << QByteArray();
}

void TestSimParse::blockPayload()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, payload);
    QCOMPARE(benchsim::blockPayload(reply), payload);
}

void TestSimParse::scenarioJson()
{
    QString error;
    const Scenario s = Scenario::fromJson(R"({"oscType":"Benlo","benloPoints":12001,"src2RfMs":41.5,
        "jitterMs":2,"riseMs":0.3,"seed":99,"rejectFirst":2,"saIdn":"x,DESKAL,1","vaValue":12.5,"acquisitionMs":300,
        "frontPanelChannels":[3,2],
        "faults":[{"instrument":"osc","pattern":"CHAN1:DATA?","kind":"blockshortdata","occurrence":2},
                  {"instrument":"sa","pattern":"TRAC?","kind":"Late","delayMs":700}]})",
                                          &error);
    QCOMPARE(error, QString());
    QVERIFY(s.isBenlo());
    QCOMPARE(s.benloPoints, 12001);
    QCOMPARE(s.src2RfMs, 41.5);
    QCOMPARE(s.src2SnkMs, Scenario().src2SnkMs); // not given: default kept
    QCOMPARE(s.riseMs, 0.3);
    QCOMPARE(Scenario().riseMs, 0.0); // ideal steps unless asked
    QCOMPARE(s.seed, 99u);
    QCOMPARE(s.saIdn, QByteArray("x,DESKAL,1"));
    QCOMPARE(s.frontPanelChannels, (QVector<int>{3, 2}));
    QCOMPARE(s.faults.size(), 2);
    QCOMPARE(s.faults[0].kind, Fault::Kind::BlockShortData);
    QCOMPARE(s.faults[0].occurrence, 2);
    QCOMPARE(s.faults[1].instrument, QString("sa"));
    QCOMPARE(s.faults[1].delayMs, 700);
}

void TestSimParse::scenarioJsonErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("not json") << QByteArray("{oscType") << "not JSON";
    QTest::newRow("array") << QByteArray("[]") << "object";
    QTest::newRow("typo key") << QByteArray(R"({"src2rfms":40})") << "src2rfms";
    QTest::newRow("bad type") << QByteArray(R"({"oscType":"Tek"})") << "oscType";
    QTest::newRow("string for number") << QByteArray(R"({"jitterMs":"3"})") << "jitterMs";
    QTest::newRow("fraction for integer") << QByteArray(R"({"benloPoints":100.5})") << "benloPoints";
    QTest::newRow("negative seed") << QByteArray(R"({"seed":-1})") << "seed";
    QTest::newRow("noise fakes edges") << QByteArray(R"({"noiseV":0.02})") << "noiseV";
    QTest::newRow("rise time negative") << QByteArray(R"({"riseMs":-0.1})") << "riseMs must be from 0 to 100";
    QTest::newRow("rise time past the record") << QByteArray(R"({"riseMs":500})") << "riseMs";
    QTest::newRow("channel 5") << QByteArray(R"({"frontPanelChannels":[5]})") << "frontPanelChannels";
    QTest::newRow("channel as text") << QByteArray(R"({"frontPanelChannels":["3"]})") << "frontPanelChannels";
    QTest::newRow("port") << QByteArray(R"({"oscPort":70000})") << "oscPort";
    QTest::newRow("fault kind") << QByteArray(R"({"faults":[{"instrument":"osc","pattern":"X","kind":"Boom"}]})")
                                << "Boom";
    QTest::newRow("fault instrument") << QByteArray(R"({"faults":[{"instrument":"dmm","pattern":"X"}]})")
                                      << "instrument";
    QTest::newRow("fault empty pattern") << QByteArray(R"({"faults":[{"instrument":"osc","kind":"Close"}]})")
                                         << "pattern";
    QTest::newRow("fault extra key")
        << QByteArray(R"({"faults":[{"instrument":"osc","pattern":"X","kind":"Close","delay":5}]})") << "delay";
}

void TestSimParse::scenarioJsonErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, mentions);
    QString error;
    Scenario::fromJson(json, &error);
    QVERIFY2(error.contains(mentions), qPrintable(error));
}

void TestSimParse::faultOption_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QByteArray>("pattern");
    QTest::newRow("plain") << "osc:NoReply:CHAN1:DATA?" << true << "osc" << int(Fault::Kind::NoReply) << 0 << 0
                           << QByteArray("CHAN1:DATA?");
    QTest::newRow("late, 2nd") << "sa:Late=6000@2:*OPC?" << true << "sa" << int(Fault::Kind::Late) << 6000 << 2
                               << QByteArray("*OPC?");
    QTest::newRow("pattern with blank") << "va:close:READ:AVDA:TTV:VAL?" << true << "va" << int(Fault::Kind::Close)
                                        << 0 << 0 << QByteArray("READ:AVDA:TTV:VAL?");
    QTest::newRow("no pattern") << "osc:Close:" << false << "" << 0 << 0 << 0 << QByteArray();
    QTest::newRow("bad instrument") << "dmm:Close:X" << false << "" << 0 << 0 << 0 << QByteArray();
    QTest::newRow("bad kind") << "osc:Explode:X" << false << "" << 0 << 0 << 0 << QByteArray();
    QTest::newRow("bad occurrence") << "osc:Close@x:X" << false << "" << 0 << 0 << 0 << QByteArray();
    QTest::newRow("negative delay") << "osc:Late=-5:X" << false << "" << 0 << 0 << 0 << QByteArray();
}

void TestSimParse::faultOption()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    Fault f;
    QString error;
    QCOMPARE(Fault::fromOption(text, &f, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (!ok)
        return;
    QFETCH(QString, instrument);
    QFETCH(int, kind);
    QFETCH(int, delayMs);
    QFETCH(int, occurrence);
    QFETCH(QByteArray, pattern);
    QCOMPARE(f.instrument, instrument);
    QCOMPARE(int(f.kind), kind);
    QCOMPARE(f.delayMs, delayMs);
    QCOMPARE(f.occurrence, occurrence);
    QCOMPARE(f.pattern, pattern);
}

QTEST_APPLESS_MAIN(TestSimParse)
#include "tst_simparse.moc"
