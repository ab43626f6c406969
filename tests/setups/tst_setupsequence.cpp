// The table runner against a recording stand-in for the instrument: where
// go-to-local happens and what a table returns, for failures (warning
// statuses among them) that the simulated bench does not produce. The exact
// commands are checked against the bench.
#include "instruments/setupcommands.h"

#include <QtTest>

namespace {

SetupTable TableNamed(const QString &name)
{
    if (name == "orvix")
        return OrvixSteps(0.035);
    if (name == "benlo")
        return BenloSteps(0.035);
    if (name == "sasetting")
        return SaSettingSteps(5.192e9);
    if (name == "saoutput")
        return SaOutputSteps();
    return VaSteps(35.0);
}

QString Shown(const SetupStep &step)
{
    return step.command.isEmpty() ? QStringLiteral("GTL") : step.command;
}

// "1-10,14,L": table steps by 1-based number (ranges inclusive), L for an
// extra go-to-local made by a failing step.
QStringList Expand(const SetupTable &table, const QString &stepList)
{
    QStringList out;
    for (const QString &part : stepList.split(',', Qt::SkipEmptyParts)) {
        if (part == "L") {
            out << "GTL";
            continue;
        }
        const QStringList ends = part.split('-');
        const int first = ends.first().toInt();
        const int last = ends.last().toInt();
        for (int n = first; n <= last; ++n)
            out << Shown(table.at(n - 1));
    }
    return out;
}

} // namespace

class TstSetupSequence : public QObject
{
    Q_OBJECT

private slots:
    void runsTable_data();
    void runsTable();
    void typedValues_data();
    void typedValues();
};

void TstSetupSequence::runsTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("flags");    // d = IF demod, r = reset, k = DESKAL identity
    QTest::addColumn<int>("failStep");     // 1-based step that fails, 0 none
    QTest::addColumn<int>("failStatus");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("succeeds");

    const int tmo = VI_ERROR_TMO;

    QTest::newRow("orvix demod") << "orvix" << "d" << 0 << tmo << "1-27" << true;
    QTest::newRow("orvix fails in 13") << "orvix" << "d" << 13 << tmo << "1-13" << false;
    QTest::newRow("orvix warning ends too") << "orvix" << "" << 5 << int(VI_SUCCESS_TERM_CHAR) << "1-5" << false;
    QTest::newRow("orvix fails in 14: goes on") << "orvix" << "" << 14 << tmo << "1-10,14-27" << true;
    QTest::newRow("orvix fails in 15: local") << "orvix" << "" << 15 << tmo << "1-10,14-15,L" << false;
    QTest::newRow("orvix fails in 16: local") << "orvix" << "d" << 16 << tmo << "1-16,L" << false;
    QTest::newRow("orvix fails in 26: local") << "orvix" << "" << 26 << tmo << "1-10,14-26,L" << false;
    QTest::newRow("orvix final local fails: not used") << "orvix" << "" << 27 << tmo << "1-10,14-27" << true;

    QTest::newRow("benlo fails in 1: no local") << "benlo" << "" << 1 << tmo << "1" << false;
    QTest::newRow("benlo fails in 25: no local") << "benlo" << "" << 25 << tmo << "1-25" << false;
    QTest::newRow("benlo final local fails: not used") << "benlo" << "" << 26 << tmo << "1-26" << true;

    QTest::newRow("sa setting fails in B5: ignored") << "sasetting" << "" << 5 << tmo << "1-5" << true;
    QTest::newRow("sa output fails in T1: no IF") << "saoutput" << "" << 1 << tmo << "1" << false;
    QTest::newRow("sa output fails in T4: ignored") << "saoutput" << "" << 4 << tmo << "1-4" << true;

    QTest::newRow("va reset fails: goes on") << "va" << "r" << 1 << tmo << "1-6" << true;
    QTest::newRow("va fails in INIT") << "va" << "" << 5 << tmo << "2-5" << false;
    QTest::newRow("va local fails") << "va" << "" << 6 << tmo << "2-6" << false;
}

void TstSetupSequence::runsTable()
{
    QFETCH(QString, table);
    QFETCH(QString, flags);
    QFETCH(int, failStep);
    QFETCH(int, failStatus);
    QFETCH(QString, sent);
    QFETCH(bool, succeeds);

    const SetupTable steps = TableNamed(table);
    const QString failing = failStep > 0 ? Shown(steps.at(failStep - 1)) : QString();
    QStringList trace;
    SetupIo io;
    io.query = [&](const QString &command) {
        trace << command;
        return command == failing ? ViStatus(failStatus) : VI_SUCCESS;
    };
    io.goToLocal = [&]() {
        trace << "GTL";
        return failing == "GTL" ? ViStatus(failStatus) : VI_SUCCESS;
    };
    SetupFlags setupFlags;
    setupFlags.ifDemod = flags.contains('d');
    setupFlags.reset = flags.contains('r');
    setupFlags.deskal = flags.contains('k');

    const ViStatus status = RunSetupSequence(io, steps, setupFlags);

    QCOMPARE(trace, Expand(steps, sent));
    if (succeeds)
        QCOMPARE(status, VI_SUCCESS);
    else
        QCOMPARE(status, ViStatus(failStatus));
}

void TstSetupSequence::typedValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("exponent") << "35e-3" << 0.035;
    QTest::newRow("centre frequency") << "5.192e9" << 5.192e9;
    QTest::newRow("blanks around") << " 35.0 " << 35.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    // A German desktop types a decimal comma; it means the decimal point.
    QTest::newRow("decimal comma") << "0,035" << 0.035;
    QTest::newRow("decimal comma, exponent") << "5,192e9" << 5.192e9;
    QTest::newRow("decimal comma, threshold") << "12,5" << 12.5;
    QTest::newRow("two commas") << "1,2,3" << 0.0;
    QTest::newRow("comma and point") << "1,000.5" << 0.0;
    QTest::newRow("nan") << "nan" << 0.0;
    QTest::newRow("inf") << "-inf" << 0.0;
    QTest::newRow("overflow") << "1e999" << 0.0;
}

void TstSetupSequence::typedValues()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double german = SetupValue(text);
    QLocale::setDefault(saved);
    QCOMPARE(german, value);
    QCOMPARE(SetupValue(text), value);
}

QTEST_GUILESS_MAIN(TstSetupSequence)
#include "tst_setupsequence.moc"
