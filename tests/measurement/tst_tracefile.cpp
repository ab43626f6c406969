// Trace files through the window's SaveBinFile / LoadBinFile slots: the
// byte layout, bit-exact round trips and the load rules.
#include "app/mainwindow.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <limits>

namespace {

QByteArray Bits(const QVector<double> &d)
{
    return QByteArray(reinterpret_cast<const char *>(d.constData()), d.size() * 8);
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestTraceFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutIsLittleEndianFloat64();
    void roundTripIsBitExact();
    void saveCounts_data();
    void saveCounts();
    void loadRules_data();
    void loadRules();
    void loadAppendsToWhatIsThere();
    void missingFileWarnsAndLeavesOutputs();
    void unwritableFileFailsQuietly();

private:
    QTemporaryDir dir;
    QScopedPointer<MainWindow> w;
    QString path(const QString &name) const { return dir.filePath(name); }
};

void TestTraceFile::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    w.reset(new MainWindow);
}

void TestTraceFile::layoutIsLittleEndianFloat64()
{
    QCOMPARE(w->SaveBinFile(path("layout.bin"), {1.0, -2.5}, 2), 0);
    QCOMPARE(ReadAll(path("layout.bin")).toHex(), QByteArray("000000000000f03f00000000000004c0"));
}

void TestTraceFile::roundTripIsBitExact()
{
    double payloadNaN;
    const quint64 payload = 0x7ff8dead0000beefULL;
    std::memcpy(&payloadNaN, &payload, 8);
    const QVector<double> d{0.0, -0.0, 0.035, -1e-310, std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(), payloadNaN, 1.7976931348623157e308};

    QCOMPARE(w->SaveBinFile(path("trip.bin"), d, d.size()), 0);
    QCOMPARE(QFileInfo(path("trip.bin")).size(), qint64(8 * d.size()));

    QVector<double> back;
    ViInt32 cnt = -1;
    QCOMPARE(w->LoadBinFile(path("trip.bin"), &back, &cnt), 0);
    QCOMPARE(cnt, ViInt32(d.size()));
    QCOMPARE(Bits(back), Bits(d));
}

void TestTraceFile::saveCounts_data()
{
    QTest::addColumn<int>("cnt");
    QTest::addColumn<int>("bytes");

    QTest::newRow("all") << 4 << 32;
    QTest::newRow("first two") << 2 << 16;
    QTest::newRow("zero gives an empty file") << 0 << 0;
    QTest::newRow("more than the trace holds") << 100 << 32;
    QTest::newRow("negative") << -3 << 0;
}

// Saving over an existing file replaces its whole content.
void TestTraceFile::saveCounts()
{
    QFETCH(int, cnt);
    QFETCH(int, bytes);
    WriteAll(path("count.bin"), QByteArray(100, 'x'));
    QCOMPARE(w->SaveBinFile(path("count.bin"), {1, 2, 3, 4}, cnt), 0);
    QCOMPARE(ReadAll(path("count.bin")), Bits({1, 2, 3, 4}).left(bytes));
}

void TestTraceFile::loadRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("cnt");

    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("12 bytes: one sample, the rest ignored") << Bits({42.0}) + "abcd" << 1;
    QTest::newRow("7 bytes") << QByteArray(7, '\1') << 0;
    QTest::newRow("three samples") << Bits({1, 2, 3}) << 3;
}

void TestTraceFile::loadRules()
{
    QFETCH(QByteArray, file);
    QFETCH(int, cnt);
    WriteAll(path("rules.bin"), file);

    QVector<double> d{-7.0};
    ViInt32 got = -1;
    QCOMPARE(w->LoadBinFile(path("rules.bin"), &d, &got), 0);
    QCOMPARE(got, ViInt32(cnt));
    QCOMPARE(Bits(d), Bits({-7.0}) + file.left(8 * cnt));
}

void TestTraceFile::loadAppendsToWhatIsThere()
{
    QCOMPARE(w->SaveBinFile(path("twice.bin"), {0.5, 1.5}, 2), 0);
    QVector<double> d;
    ViInt32 cnt = 0;
    QCOMPARE(w->LoadBinFile(path("twice.bin"), &d, &cnt), 0);
    QCOMPARE(w->LoadBinFile(path("twice.bin"), &d, &cnt), 0);
    QCOMPARE(cnt, ViInt32(2));
    QCOMPARE(d, (QVector<double>{0.5, 1.5, 0.5, 1.5}));
}

void TestTraceFile::missingFileWarnsAndLeavesOutputs()
{
    QString title, text;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        box->accept();
    });
    QVector<double> d{3.0};
    ViInt32 cnt = 99;
    QCOMPARE(w->LoadBinFile(path("no-such.bin"), &d, &cnt), -1);
    QCOMPARE(title, QStringLiteral("File Error"));
    QCOMPARE(text, QStringLiteral("File not found."));
    QCOMPARE(buttons, 1);
    QCOMPARE(d, QVector<double>{3.0});
    QCOMPARE(cnt, ViInt32(99));
}

void TestTraceFile::unwritableFileFailsQuietly()
{
    QCOMPARE(w->SaveBinFile(path("no-dir/x.bin"), {1.0}, 1), -1);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestTraceFile)
#include "tst_tracefile.moc"
