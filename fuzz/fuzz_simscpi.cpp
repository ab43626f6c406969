// Program messages as the simulator splits them into commands, and the
// block it builds from samples read back by its own block reader.
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
    for (const Command &cmd : splitMessage(message)) {
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
    asciiList(samples);
    return 0;
}
