#include "serial/Triggers.h"
#include "serial/ErrorCodes.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace serial;

namespace
{

TDataTrigger MakeTrigger(const std::string &text, bool ignoreCase)
{
    TTriggerSet set;
    set.AddData(reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint16_t>(text.size()),
                ignoreCase);
    return set.Data[0];
}

// 1-based positions in the input at which the trigger reports a match.
std::vector<int> MatchPositions(const std::string &text, bool ignoreCase, const std::string &input)
{
    TDataTrigger trigger = MakeTrigger(text, ignoreCase);
    std::vector<int> at;
    for (size_t i = 0; i < input.size(); ++i)
        if (trigger.Feed(static_cast<uint8_t>(input[i])))
            at.push_back(static_cast<int>(i + 1));
    return at;
}

struct MatchCase {
    const char *text;
    bool ignoreCase;
    const char *input;
    std::vector<int> expected;
};

} // namespace

TEST(DataTriggerMatching, FiresWhereTheDescribedCasesSay)
{
    const MatchCase cases[] = {
        {"AA", false, "AAA", {2, 3}},     // overlapping matches
        {"ABAC", false, "ABABAC", {6}},   // a failed partial match restarts inside itself
        {"ABAB", false, "ABABAB", {4}},   // a completed match clears every partial match
        {"AAB", false, "AAAB", {4}},      // second partial match survives the first failing
        {"X", false, "aXbXX", {2, 4, 5}}, // a one-byte trigger fires on every occurrence
        {"ok", true, "xOKy", {3}},        // ignore case
        {"ok", true, "oK", {2}},
        {"ok", false, "OK", {}},                  // case matters without the flag
        {"OK\r", false, "O\rOK\rOK", {5}},        // a byte between breaks a match
        {"abcabd", false, "abcabcabd", {9}},      // restart from within the text
        {"\x01\xff", false, "\x01\x01\xff", {3}}, // bytes, not characters
        // A partial match that fails falls back to the longest part still matching.
        {"**ERR", false, "***E***ERR", {10}},
        {"EERR", false, "EEEREEERR", {9}},
        {"CRC ERR", false, "CRCCRCRC ERR", {12}},
        {"aabb", false, "aaabaaabb", {9}},
        {"err", true, "EeErR", {5}},
    };
    for (const MatchCase &c : cases)
        EXPECT_EQ(MatchPositions(c.text, c.ignoreCase, c.input), c.expected)
            << "text " << c.text << " input " << c.input;
}

// The matcher against a plain search on random texts and streams over small alphabets, where
// partial matches overlap most: a match ends at the first place the text ends in the bytes since
// the last match, which may begin with that match's last byte.
TEST(DataTriggerMatching, AgreesWithAPlainSearch)
{
    std::mt19937 rng(20261208);
    const auto fold = [](std::string s) {
        for (char &c : s)
            c = static_cast<char>(UpperByte(static_cast<uint8_t>(c)));
        return s;
    };
    // A million rounds here; LOADER_MATCHER_ROUNDS asks for more by hand.
    const char *asked = std::getenv("LOADER_MATCHER_ROUNDS");
    const long rounds = asked ? std::max(1L, std::atol(asked)) : 1000000L;
    for (long round = 0; round < rounds; ++round) {
        const std::string letters = round % 4 == 0 ? "aAbB" : round % 2 ? "ab" : "abc";
        const auto random = [&](size_t n) {
            std::string s(n, ' ');
            for (char &c : s)
                c = letters[rng() % letters.size()];
            return s;
        };
        const std::string text = random(1 + rng() % (round % 8 == 0 ? kMaxMatchLength : 6));
        const std::string input = random(rng() % 48);
        const bool ignoreCase = round % 4 == 0;
        std::vector<int> expected;
        const std::string t = ignoreCase ? fold(text) : text, in = ignoreCase ? fold(input) : input;
        int lastEnd = 0; // 1-based end of the last match
        for (size_t end = t.size(); end <= in.size(); ++end) {
            const size_t start = end - t.size(); // 0-based; may be the last match's last byte
            if (int(end) > lastEnd && int(start) + 1 >= lastEnd &&
                in.compare(start, t.size(), t) == 0) {
                expected.push_back(int(end));
                lastEnd = int(end);
            }
        }
        ASSERT_EQ(MatchPositions(text, ignoreCase, input), expected)
            << "text " << text << " input " << input;
    }
}

TEST(DataTriggerMatching, DiscardResetsPartialMatches)
{
    TDataTrigger trigger = MakeTrigger("OK", false);
    EXPECT_FALSE(trigger.Feed('O'));
    trigger.ResetPositions();
    EXPECT_FALSE(trigger.Feed('K'));
}

TEST(TriggerTable, HandlesAreHandedOutLowestFirstAndReused)
{
    TTriggerSet set;
    EXPECT_EQ(set.AddTimer(), 2);
    EXPECT_EQ(set.AddData(reinterpret_cast<const uint8_t *>("OK"), 2, false), 3);
    EXPECT_EQ(set.AddStatus(StatusOutFree), 4);
    set.Drop(3);
    EXPECT_EQ(set.SlotOf(3, hkData), 0);
    EXPECT_EQ(set.AddStatus(StatusOutUsed), 3);
    EXPECT_EQ(set.StatusKindOf(3), StatusOutUsed);
    EXPECT_EQ(set.StatusKindOf(2), 0); // a timer's handle has no status kind
    set.Drop(99);                      // names no trigger: ignored
    set.Drop(40);
    set.AvailThreshold = 5;
    set.Drop(kAvailHandle);
    EXPECT_EQ(set.AvailThreshold, 0);
    EXPECT_EQ(set.SlotOf(2, hkTimer), 1);
}

TEST(TriggerTable, LimitsPerKindAndInAll)
{
    TTriggerSet set;
    const uint8_t text[22] = {};
    EXPECT_EQ(set.AddData(text, 22, false), ecTriggerTooLong);
    for (int i = 0; i < kDataSlots; ++i)
        EXPECT_GT(set.AddData(text, 21, false), 0);
    EXPECT_EQ(set.AddData(text, 1, false), ecNoMoreTriggers);
    for (int i = 0; i < kTimerSlots; ++i)
        EXPECT_GT(set.AddTimer(), 0);
    EXPECT_EQ(set.AddTimer(), ecNoMoreTriggers);
    EXPECT_EQ(set.AddStatus(6), ecBadArgument);
    int last = 0;
    for (int i = 0; i < kStatusSlots; ++i)
        last = set.AddStatus(StatusOutSent);
    EXPECT_EQ(last, kMaxHandle); // 40 triggers use handles 2 to 41
    EXPECT_EQ(set.AddStatus(StatusOutSent), ecNoMoreTriggers);
}

TEST(TriggerTable, ZeroLengthDataTriggerHoldsItsSlot)
{
    TTriggerSet set;
    const int empty = set.AddData(nullptr, 0, false);
    const int ok = set.AddData(reinterpret_cast<const uint8_t *>("OK"), 2, false);
    EXPECT_GT(empty, 0);
    EXPECT_NE(set.SlotOf(static_cast<uint16_t>(empty), hkData),
              set.SlotOf(static_cast<uint16_t>(ok), hkData));
    set.Drop(static_cast<uint16_t>(empty));
    EXPECT_EQ(set.Data[set.SlotOf(static_cast<uint16_t>(ok), hkData) - 1].Length, 2);
}

TEST(TimerTrigger, ExpiryIsStrictAndSurvivesTheTickWrap)
{
    struct Case {
        int32_t start, expiry, now;
        bool expired;
    };
    const Case cases[] = {
        {100, 105, 105, false}, // equal is not yet expired
        {100, 105, 106, true},
        {kMaxTimerTicks - 5, kMaxTimerTicks + 5, 0, false}, // wrapped, expiry still ahead
        {kMaxTimerTicks - 5, kMaxTimerTicks + 5, 5, false},
        {kMaxTimerTicks - 5, kMaxTimerTicks + 5, 6, true},
        {kMaxTimerTicks - 5, kMaxTimerTicks - 2, 0, true},
    };
    for (const Case &c : cases) {
        TTimerTrigger t;
        t.StartTick = c.start;
        t.ExpiryTick = c.expiry;
        EXPECT_EQ(t.Expired(c.now), c.expired) << c.start << " " << c.expiry << " " << c.now;
    }
}
