// Program messages as the simulator splits them into commands (one at a
// time, or all at once: the same commands either way), the block it builds
// from samples read back by its own block reader, and its bounded sample
// lists.
#include "fuzz/fuzzcheck.h"
#include "sim/scpi.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace benchsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray message(reinterpret_cast<const char *>(data), int(size));
    const QList<Command> all = splitMessage(message);
    CommandReader reader(message);
    Command one;
    int n = 0;
    while (reader.next(&one)) {
        FUZZ_CHECK(n < all.size());
        FUZZ_CHECK(one.header == all[n].header && one.args == all[n].args && one.query == all[n].query);
        ++n;
    }
    FUZZ_CHECK(n == all.size());
    for (const Command &cmd : all) {
        FUZZ_CHECK(!cmd.header.isEmpty());
        FUZZ_CHECK(cmd.query == cmd.header.endsWith('?'));
        int channel = -1;
        channelPattern(cmd.header, &channel);
        FUZZ_CHECK(channel >= 0 && channel <= 4);
        bool on = false, ascii = false;
        parseBool(cmd.args, &on);
        parseDataFormat(cmd.args, &ascii);
    }
    blockPayload(message);

    QVector<float> samples(int(size / 4));
    std::memcpy(samples.data(), data, size_t(samples.size()) * 4);
    const QByteArray block = floatBlock(samples);
    FUZZ_CHECK(blockPayload(block + '\n') == message.left(samples.size() * 4));
    // A list that would pass the bound leaves the output as it was.
    const QByteArray whole = asciiList(samples);
    const qint64 bound = size ? data[0] * 8 : 0;
    QByteArray out("x");
    const bool fits = appendAsciiList(message.constData(), samples.size(), bound, &out);
    FUZZ_CHECK(fits == (whole.size() <= bound));
    FUZZ_CHECK(out == (fits ? "x" + whole : QByteArray("x")));
    return 0;
}
