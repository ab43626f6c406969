// The block-header and sample parsing behind ReadArray.

#include "instruments/blockread.h"

#include <QtTest>

#include <cstring>

namespace {

float floatFromBits(quint32 bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

class BlockReadTest : public QObject {
    Q_OBJECT

private slots:
    void lengthDigits_data();
    void lengthDigits();
    void byteCount_data();
    void byteCount();
    void samples_data();
    void samples();
};

void BlockReadTest::lengthDigits_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("digits");

    QTest::newRow("#5") << QByteArray("#5") << 5;
    QTest::newRow("#1") << QByteArray("#1") << 1;
    QTest::newRow("#9") << QByteArray("#9") << 9;
    QTest::newRow("indefinite #0") << QByteArray("#0") << 0;
    QTest::newRow("letter") << QByteArray("#A") << 0;
    QTest::newRow("colon after 9") << QByteArray("#:") << 0;
    QTest::newRow("no hash") << QByteArray("15") << 0;
    QTest::newRow("one byte only") << QByteArray("#") << 0;
}

void BlockReadTest::lengthDigits()
{
    QFETCH(QByteArray, header);
    QFETCH(int, digits);
    QCOMPARE(blockLengthDigits(header.constData(), header.size()), digits);
}

void BlockReadTest::byteCount_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("count");

    QTest::newRow("80000") << QByteArray("80000") << 5 << true << qint64(80000);
    QTest::newRow("zero") << QByteArray("0") << 1 << true << qint64(0);
    QTest::newRow("leading zeros") << QByteArray("000000011") << 9 << true << qint64(11);
    QTest::newRow("nine nines") << QByteArray("999999999") << 9 << true << qint64(999999999);
    QTest::newRow("only the first n digits count") << QByteArray("123") << 2 << true << qint64(12);
    QTest::newRow("fewer digits than announced") << QByteArray("12") << 3 << false << qint64(0);
    QTest::newRow("not a digit") << QByteArray("1a") << 2 << false << qint64(0);
    QTest::newRow("line feed in the field") << QByteArray("1\n") << 2 << false << qint64(0);
    QTest::newRow("sign") << QByteArray("-1") << 2 << false << qint64(0);
}

void BlockReadTest::byteCount()
{
    QFETCH(QByteArray, field);
    QFETCH(int, n);
    QFETCH(bool, ok);
    QFETCH(qint64, count);
    qint64 got = -1;
    QCOMPARE(blockByteCount(field.constData(), field.size(), n, &got), ok);
    QCOMPARE(got, ok ? count : qint64(-1));
}

void BlockReadTest::samples_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QVector<double>>("expected");

    // Little-endian on the wire whatever this host's order: 1.0f is 0x3F800000.
    const QByteArray one("\x00\x00\x80\x3f", 4);
    const QByteArray minusTwo("\x00\x00\x00\xc0", 4);
    const QByteArray tenth("\xcd\xcc\xcc\x3d", 4); // 0.1f, not exactly 0.1
    QTest::newRow("three samples") << one + minusTwo + tenth << qint64(12)
                                   << QVector<double>{1.0, -2.0, double(0.1f)};
    QTest::newRow("terminator ignored") << one + "\n" << qint64(4) << QVector<double>{1.0};
    QTest::newRow("remainder dropped") << one + minusTwo + "\x01\x02\x03" << qint64(11)
                                       << QVector<double>{1.0, -2.0};
    QTest::newRow("fewer than four bytes") << QByteArray("\x01\x02\x03") << qint64(3) << QVector<double>{};
    QTest::newRow("empty") << QByteArray("\n") << qint64(0) << QVector<double>{};
    QTest::newRow("line-feed bytes") << QByteArray("\x0a\x0a\x0a\x0a", 4) << qint64(4)
                                     << QVector<double>{double(floatFromBits(0x0A0A0A0A))};
}

void BlockReadTest::samples()
{
    QFETCH(QByteArray, data);
    QFETCH(qint64, count);
    QFETCH(QVector<double>, expected);
    QCOMPARE(decodeFloat32Le(data, count), expected);
}

QTEST_GUILESS_MAIN(BlockReadTest)
#include "tst_blockread.moc"
