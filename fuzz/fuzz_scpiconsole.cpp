// The SCPI console's reading of a reply: an instrument on a raw socket
// answers a query with the input's bytes (then closes its sending side, so
// no read waits for its time-out), and the console tells text from a block,
// keeps what it shows within its bounds, writes a block whole to the --raw
// file or not at all, and prints nothing a terminal would act on.
//
// Input: 1 byte (bit 0: with --raw), then what the instrument sends.
#include "app/scpiexchange.h"
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackpeer.h"
#include "instruments/readblock.h"

#include <QFileInfo>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

LoopbackPeer *peer;
ViSession rm;
std::string resource;
QString rawFile;

void removeRawFile() { ::unlink(rawFile.toLocal8Bit().constData()); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    peer = new LoopbackPeer;
    resource = "TCPIP::127.0.0.1::" + std::to_string(peer->port()) + "::SOCKET";
    rawFile = QStringLiteral("/tmp/quenvia-fuzz-scpiconsole-%1.bin").arg(::getpid());
    std::atexit(removeRawFile);
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool raw = data[0] & 1;
    const std::vector<uint8_t> answer(data + 1, data + size);

    peer->arm([&answer](int fd) {
        uint8_t first[64];
        if (LoopbackPeer::readAtLeast(fd, first, sizeof first, 1) > 0)
            LoopbackPeer::sendAll(fd, answer.data(), answer.size());
        ::shutdown(fd, SHUT_WR);
    });
    ViSession vi = 0;
    if (viOpen(rm, resource.c_str(), VI_NULL, 2000, &vi) != VI_SUCCESS)
        std::abort();
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);

    const ScpiReply reply = ScpiExchange(vi, "CHAN1:DATA?", raw ? rawFile : QString(), 2000);
    FUZZ_CHECK(reply.query);
    if (reply.block) {
        FUZZ_CHECK(reply.shown.size() <= ShownBlockBytes);
        if (reply.failure.isEmpty())
            FUZZ_CHECK(reply.blockBytes <= MaxBlockBytes);
        // Whole or not at all; whole also when what follows the data fails.
        const bool written = !reply.rawFile.isEmpty();
        FUZZ_CHECK(QFileInfo::exists(rawFile) == written);
        if (written)
            FUZZ_CHECK(raw && QFileInfo(rawFile).size() == reply.blockBytes);
        if (raw && reply.failure.isEmpty() && reply.blockBytes > 0)
            FUZZ_CHECK(written);
    } else {
        FUZZ_CHECK(reply.shown.size() <= ShownTextBytes);
        FUZZ_CHECK(!QFileInfo::exists(rawFile));
        // What is shown is what came, from its start.
        FUZZ_CHECK(size_t(reply.shown.size()) <= answer.size());
        FUZZ_CHECK(reply.shown.isEmpty()
                   || std::memcmp(reply.shown.constData(), answer.data(), size_t(reply.shown.size())) == 0);
    }
    for (const QChar c : ScpiReplyText(reply))
        FUZZ_CHECK((c.unicode() >= 0x20 && c.unicode() < 0x7f) || c == QLatin1Char('\t'));
    removeRawFile();
    viClose(vi);
    peer->finish();
    return 0;
}
