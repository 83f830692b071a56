// Fuzzes the data-trigger matcher against a plain search. The first byte gives the text's length
// (1 to 21, bits 0-4) and whether case is ignored (bit 7); the text follows, the rest is the
// stream. A match must end at the first place the text ends in the bytes received since the last
// match, which may begin with that match's last byte.

#include "fuzz/FuzzCheck.h"
#include "serial/Triggers.h"

#include <cstdint>
#include <string>

using namespace serial;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const size_t length = 1 + (data[0] & 0x1F) % kMaxMatchLength;
    const bool ignoreCase = (data[0] & 0x80) != 0;
    if (size < 1 + length)
        return 0;
    const uint8_t *text = data + 1;
    const uint8_t *stream = text + length;
    const size_t streamSize = size - 1 - length;

    TTriggerSet set;
    FUZZ_CHECK(set.AddData(text, uint16_t(length), ignoreCase) > 0);
    TDataTrigger &trigger = set.Data[0];
    const auto fold = [&](uint8_t c) { return ignoreCase ? UpperByte(c) : c; };
    size_t lastEnd = 0; // 1-based end of the last match
    for (size_t i = 0; i < streamSize; ++i) {
        const size_t end = i + 1;
        bool expected = false;
        if (end >= length && end - length + 1 >= lastEnd) {
            expected = true;
            for (size_t j = 0; j < length && expected; ++j)
                expected = fold(stream[end - length + j]) == fold(text[j]);
        }
        FUZZ_CHECK(trigger.Feed(stream[i]) == expected);
        if (expected)
            lastEnd = end;
    }
    return 0;
}
