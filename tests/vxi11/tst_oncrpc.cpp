// XDR, RPC headers and record marking: the framing every VXI-11 exchange
// rests on, including what a hostile or broken peer can send.
#include "visa/oncrpc.h"
#include "visa/recordreader.h"

#include <QtTest>

#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace oncrpc;

Q_DECLARE_METATYPE(oncrpc::Bytes)

class TestOncRpc : public QObject {
    Q_OBJECT
private slots:
    void opaquePadding_data();
    void opaquePadding();
    void scalarsRoundTrip();
    void malformedInputFails_data();
    void malformedInputFails();
    void callRoundTrip();
    void replies();
    void recordsSplitAnywhere();
    void multiFragmentRecord();
    void oversizedRecordRefused();
    void recordReaderSplitsAnywhere_data();
    void recordReaderSplitsAnywhere();
};

void TestOncRpc::opaquePadding_data()
{
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("encoded");
    QTest::newRow("empty") << 0 << 4;
    QTest::newRow("1") << 1 << 8;
    QTest::newRow("3") << 3 << 8;
    QTest::newRow("4") << 4 << 8;
    QTest::newRow("5") << 5 << 12;
    QTest::newRow("80000") << 80000 << 80004;
}

void TestOncRpc::opaquePadding()
{
    QFETCH(int, len);
    QFETCH(int, encoded);
    Bytes data(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        data[size_t(i)] = static_cast<uint8_t>(i * 7 + 1);
    XdrWriter w;
    w.opaque(data);
    w.u32(0xdeadbeef); // what follows must start on the next unit
    QCOMPARE(int(w.bytes().size()), encoded + 4);
    for (int i = len; i < encoded - 4; ++i)
        QCOMPARE(int(w.bytes()[size_t(4 + i)]), 0);

    XdrReader r(w.bytes());
    QVERIFY(r.opaque(size_t(len)) == data);
    QCOMPARE(r.u32(), 0xdeadbeefu);
    QVERIFY(r.ok());
    QCOMPARE(int(r.remaining()), 0);
}

void TestOncRpc::scalarsRoundTrip()
{
    XdrWriter w;
    w.u32(0x0607AF);
    w.i32(-2);
    w.boolean(true);
    w.string("gpib0,12");
    const Bytes &b = w.bytes();
    // Big-endian on the wire whatever the host.
    QCOMPARE(int(b[0]), 0x00);
    QCOMPARE(int(b[1]), 0x06);
    QCOMPARE(int(b[2]), 0x07);
    QCOMPARE(int(b[3]), 0xAF);

    XdrReader r(b);
    QCOMPARE(r.u32(), 0x0607AFu);
    QCOMPARE(r.i32(), -2);
    QCOMPARE(r.boolean(), true);
    QCOMPARE(r.string(64), std::string("gpib0,12"));
    QVERIFY(r.ok());
}

void TestOncRpc::malformedInputFails_data()
{
    QTest::addColumn<Bytes>("input");
    QTest::addColumn<int>("maxLen");
    // Each input is read as one opaque followed by one u32.
    QTest::newRow("empty") << Bytes{} << 100;
    QTest::newRow("truncated length") << Bytes{0, 0, 0} << 100;
    QTest::newRow("data shorter than length") << Bytes{0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e'} << 100;
    QTest::newRow("missing padding") << Bytes{0, 0, 0, 1, 'a', 0, 0, 0, 0, 0, 0} << 100;
    QTest::newRow("length above limit") << Bytes{0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0} << 4;
    QTest::newRow("huge length") << Bytes{0xff, 0xff, 0xff, 0xfc, 0, 0, 0, 0} << (1 << 30);
}

void TestOncRpc::malformedInputFails()
{
    QFETCH(Bytes, input);
    QFETCH(int, maxLen);
    XdrReader r(input);
    r.opaque(size_t(maxLen));
    r.u32();
    QVERIFY(!r.ok());
}

void TestOncRpc::callRoundTrip()
{
    XdrWriter args;
    args.u32(42);
    Bytes msg = encodeCall(7, 0x0607AF, 1, 12, args.bytes());
    XdrReader r(msg);
    CallHeader h;
    QVERIFY(decodeCall(r, &h));
    QCOMPARE(h.xid, 7u);
    QCOMPARE(h.rpcVersion, 2u);
    QCOMPARE(h.prog, 0x0607AFu);
    QCOMPARE(h.vers, 1u);
    QCOMPARE(h.proc, 12u);
    QCOMPARE(r.u32(), 42u);
    QVERIFY(r.ok());

    // Credentials of another flavour (as libtirpc clients may send) are skipped.
    XdrWriter w;
    for (uint32_t v : {9u, 0u, 2u, 100000u, 4u, 3u, 1u /* AUTH_SYS */})
        w.u32(v);
    w.opaque(Bytes(20, 0x55));
    w.u32(0);
    w.u32(0);
    w.u32(0x1234);
    XdrReader r2(w.bytes());
    QVERIFY(decodeCall(r2, &h));
    QCOMPARE(h.prog, 100000u);
    QCOMPARE(r2.u32(), 0x1234u);

    // A reply is not a call.
    Bytes reply = encodeReply(7, Success);
    XdrReader r3(reply);
    QVERIFY(!decodeCall(r3, &h));
}

void TestOncRpc::replies()
{
    XdrWriter res;
    res.u32(0);
    res.u32(4);
    Bytes ok = encodeReply(99, Success, res.bytes());
    uint32_t xid = 0;
    QVERIFY(peekXid(ok, &xid));
    QCOMPARE(xid, 99u);
    XdrReader r(ok);
    ReplyHeader h;
    QVERIFY(decodeReply(r, &h));
    QVERIFY(h.success());
    QCOMPARE(r.u32(), 0u);
    QCOMPARE(r.u32(), 4u);

    Bytes mismatch = encodeProgMismatch(5, 2, 4);
    XdrReader r2(mismatch);
    QVERIFY(decodeReply(r2, &h));
    QVERIFY(!h.success());
    QCOMPARE(h.acceptStat, uint32_t(ProgMismatch));
    QCOMPARE(r2.u32(), 2u);
    QCOMPARE(r2.u32(), 4u);

    Bytes denied = encodeRpcMismatch(6);
    XdrReader r3(denied);
    QVERIFY(decodeReply(r3, &h));
    QCOMPARE(h.replyStat, uint32_t(MsgDenied));
    QVERIFY(!h.success());

    Bytes call = encodeCall(1, 2, 3, 4, {});
    XdrReader r4(call);
    QVERIFY(!decodeReply(r4, &h));
}

void TestOncRpc::recordsSplitAnywhere()
{
    Bytes a = encodeCall(1, 100000, 2, 3, Bytes(16, 1));
    Bytes b = encodeReply(2, Success, Bytes(4000, 2));
    Bytes stream = frameRecord(a);
    Bytes fb = frameRecord(b);
    stream.insert(stream.end(), fb.begin(), fb.end());

    // However TCP cuts the stream, the same two records come out.
    for (size_t step : {size_t(1), size_t(3), size_t(4), size_t(1000), stream.size()}) {
        RecordAssembler asmb(1 << 20);
        std::vector<Bytes> out;
        for (size_t pos = 0; pos < stream.size(); pos += step) {
            asmb.feed(stream.data() + pos, std::min(step, stream.size() - pos));
            Bytes rec;
            while (asmb.next(&rec))
                out.push_back(rec);
        }
        QCOMPARE(int(out.size()), 2);
        QVERIFY(out[0] == a);
        QVERIFY(out[1] == b);
        QVERIFY(!asmb.failed());
    }
}

void TestOncRpc::multiFragmentRecord()
{
    XdrWriter w;
    w.u32(3);
    w.raw({'a', 'b', 'c'});
    w.u32(0); // an empty middle fragment is legal
    w.u32(LastFragment | 2);
    w.raw({'d', 'e'});
    RecordAssembler asmb(100);
    asmb.feed(w.bytes().data(), w.bytes().size());
    Bytes rec;
    QVERIFY(asmb.next(&rec));
    QVERIFY((rec == Bytes{'a', 'b', 'c', 'd', 'e'}));
    QVERIFY(!asmb.next(&rec));
}

void TestOncRpc::oversizedRecordRefused()
{
    // A header announcing 2 GiB must fail at once, not wait for or allocate it;
    // so must fragments that add up to more than the limit.
    const uint8_t huge[] = {0xff, 0xff, 0xff, 0xff};
    RecordAssembler a(1 << 20);
    a.feed(huge, sizeof huge);
    QVERIFY(a.failed());

    XdrWriter w;
    w.u32(60);
    w.raw(Bytes(60, 0));
    w.u32(LastFragment | 60);
    RecordAssembler b(100);
    b.feed(w.bytes().data(), w.bytes().size());
    QVERIFY(b.failed());
    Bytes rec;
    QVERIFY(!b.next(&rec));
}

void TestOncRpc::recordReaderSplitsAnywhere_data()
{
    QTest::addColumn<int>("step"); // bytes per write on the other end
    QTest::newRow("1") << 1;
    QTest::newRow("3") << 3;
    QTest::newRow("700") << 700;
    QTest::newRow("4096") << 4096;
    QTest::newRow("all at once") << (1 << 20);
}

// The client's reader against a stream cut into arbitrary pieces: data read
// small (through its read-ahead) and large (straight into the caller's
// memory, a fragment header taken along), an empty fragment in between, a
// record that ends before what is asked, and a record dropped half read.
void TestOncRpc::recordReaderSplitsAnywhere()
{
    QFETCH(int, step);
    Bytes first(12000);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = uint8_t(i * 7);
    XdrWriter w;
    w.u32(10000);
    w.raw(Bytes(first.begin(), first.begin() + 10000));
    w.u32(0);
    w.u32(LastFragment | 2000);
    w.raw(Bytes(first.begin() + 10000, first.end()));
    for (uint8_t r = 0; r < 2; ++r) // two more records of five bytes
        w.raw(frameRecord(Bytes{r, 1, 2, 3, 4}));
    const Bytes stream = w.take();

    // The other end writes on its own thread; whatever the checks below
    // say, it is stopped and both ends are closed when this returns.
    struct Peer {
        int sv[2] = {-1, -1};
        std::thread writer;
        ~Peer()
        {
            ::shutdown(sv[0], SHUT_RDWR);
            if (writer.joinable())
                writer.join();
            ::close(sv[0]);
            ::close(sv[1]);
        }
    } peer;
    int *sv = peer.sv;
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    peer.writer = std::thread([&stream, sv, step] {
        const size_t piece = size_t(step);
        for (size_t pos = 0; pos < stream.size(); pos += piece) {
            if (::send(sv[1], stream.data() + pos, std::min(piece, stream.size() - pos), MSG_NOSIGNAL) <= 0)
                break;
            if (piece >= 700 && piece < stream.size())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    RecordReader reader;
    reader.attach(sv[0]);
    const Deadline deadline = Deadline::after(10000);
    Bytes got(12000 + 1);
    QCOMPARE(int(reader.read(sv[0], got.data(), 10, deadline)), int(IoResult::Ok));
    QCOMPARE(int(reader.read(sv[0], got.data() + 10, 9990, deadline)), int(IoResult::Ok));
    QCOMPARE(int(reader.read(sv[0], got.data() + 10000, 2000, deadline)), int(IoResult::Ok));
    QVERIFY(Bytes(got.begin(), got.begin() + 12000) == first);
    QCOMPARE(int(reader.read(sv[0], got.data(), 1, deadline)), int(IoResult::Protocol));

    QCOMPARE(int(reader.next(sv[0], deadline)), int(IoResult::Ok));
    uint32_t word = 0;
    QCOMPARE(int(reader.u32(sv[0], &word, deadline)), int(IoResult::Ok));
    QCOMPARE(word, 0x00010203u);
    QCOMPARE(int(reader.next(sv[0], deadline)), int(IoResult::Ok)); // drops the fifth byte
    Bytes last;
    QCOMPARE(int(reader.readRest(sv[0], &last, 100, deadline)), int(IoResult::Ok));
    QVERIFY((last == Bytes{1, 1, 2, 3, 4}));
}

QTEST_APPLESS_MAIN(TestOncRpc)
#include "tst_oncrpc.moc"
