#include "bench/soak/SoakPlan.h"

#include "tools/devsim/UploadHeader.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace soak
{
namespace
{

uint64_t SplitMix(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Our own draws rather than the standard distributions, whose results differ between libraries:
// a seed must name the same uploads wherever the soak is built.
class Draw
{
  public:
    Draw(uint64_t seed, uint64_t stream) : state_(seed ^ (stream * 0xD1B54A32D192ED03ULL))
    {
        SplitMix(state_);
    }
    uint64_t Next() { return SplitMix(state_); }
    // Uniform in [low, high].
    uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }
    bool OneIn(uint64_t n) { return Next() % n == 0; }
    // Every power of two equally likely, so small values get their share.
    uint64_t Spread(uint64_t low, uint64_t high)
    {
        int bits = 0;
        while ((high >> bits) > 1)
            ++bits;
        const uint64_t from = uint64_t{1} << Between(0, static_cast<uint64_t>(bits));
        return std::clamp(Between(from, from * 2 - 1), low, high);
    }

  private:
    uint64_t state_;
};

unsigned DrawBufferSize(Draw &draw)
{
    switch (draw.Between(0, 7)) {
    case 0:
        return MinBufferSize;
    case 1:
        return MaxBufferSize;
    default:
        return static_cast<unsigned>(draw.Between(MinBufferSize, MaxBufferSize));
    }
}

unsigned DrawBlockSize(Draw &draw, unsigned bufferSize)
{
    switch (draw.Between(0, 19)) {
    case 0:
        return 1;
    case 1:
    case 2:
        return bufferSize;
    case 3:
        return bufferSize - 1;
    default:
        return static_cast<unsigned>(draw.Spread(1, bufferSize));
    }
}

// Lengths at the block and buffer edges now and then, where a pump goes wrong first.
std::size_t DrawLength(Draw &draw, const UploadPlan &plan)
{
    if (!draw.OneIn(6))
        return draw.Between(0, MaxBodyLength);
    const std::array<std::size_t, 9> edges = {0,
                                              1,
                                              MaxBodyLength,
                                              plan.blockSize,
                                              plan.blockSize - std::size_t{1},
                                              plan.blockSize + std::size_t{1},
                                              plan.blockSize * std::size_t{2},
                                              plan.bufferSize,
                                              plan.bufferSize + std::size_t{1}};
    return std::min(edges[draw.Between(0, edges.size() - 1)], MaxBodyLength);
}

std::size_t DrawFailAt(Draw &draw, std::size_t length)
{
    switch (draw.Between(0, 7)) {
    case 0:
        return 0;
    case 1:
        return length - 1; // the last byte: the error comes as the output drains
    default:
        return draw.Between(0, length - 1);
    }
}

} // namespace

UploadPlan PlanUpload(uint64_t seed, int number)
{
    UploadPlan plan;
    plan.number = number;
    const auto group = static_cast<uint64_t>((number - 1) / 10);
    const auto place = static_cast<std::size_t>((number - 1) % 10);

    Draw groupDraw(seed, group * 2);
    std::array<int, 10> order = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (std::size_t i = order.size() - 1; i > 0; --i)
        std::swap(order[i], order[groupDraw.Between(0, i)]);
    const auto rank = static_cast<std::size_t>(
        std::find(order.begin(), order.end(), static_cast<int>(place)) - order.begin());
    plan.paced = rank < 5;
    const bool injected = place == groupDraw.Between(0, 9);

    Draw draw(seed, static_cast<uint64_t>(number) * 2 + 1);
    plan.bufferSize = DrawBufferSize(draw);
    plan.blockSize = DrawBlockSize(draw, plan.bufferSize);
    plan.length = DrawLength(draw, plan);
    if (injected) {
        // A failure needs a byte to fail at; at or past the length the device completes.
        if (plan.length == 0)
            plan.length = draw.Between(1, MaxBodyLength);
        plan.injection = static_cast<Injection>(draw.Between(1, 3));
        plan.failAt = DrawFailAt(draw, plan.length);
        // A refusal after the whole body can only be set on the simulator's command line.
        if (draw.OneIn(3)) {
            plan.injection = Injection::CommandLine;
            plan.atEnd = true;
            plan.failAt = plan.length;
        }
        // Half of the error replies come slowly, split anywhere and paused up to a second.
        if (draw.OneIn(2)) {
            plan.errorSplit = static_cast<unsigned>(draw.Between(1, 5));
            plan.errorPauseMs = static_cast<unsigned>(draw.Between(1, 1000));
        }
    }
    plan.bodySeed = draw.Next();
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X", static_cast<unsigned>(draw.Next()));
    plan.address = address;
    return plan;
}

std::string MakeBody(const UploadPlan &plan)
{
    std::string body(plan.length, '\0');
    uint64_t state = plan.bodySeed;
    for (std::size_t i = 0; i < body.size(); i += 8) {
        uint64_t word = SplitMix(state);
        for (std::size_t j = i; j < std::min(i + 8, body.size()); ++j, word >>= 8)
            body[j] = static_cast<char>(word & 0xFF);
    }
    return body;
}

std::string Checksum(std::string_view bytes)
{
    return devsim::ChecksumText(devsim::AddToChecksum(0, bytes));
}

std::string ScriptFor(const UploadPlan &plan, const std::string &bodyFile)
{
    std::string script = "Soak upload " + std::to_string(plan.number) + "\r\n";
    const std::string fail = "\"FAIL " + std::to_string(plan.failAt) + "^M\"\r\n";
    if (plan.injection == Injection::ScriptTest)
        script += "_TC " + fail;
    else if (plan.injection == Injection::ScriptSend)
        script += "_SC " + fail;
    script += "_LF " + bodyFile + "\r\n_LA " + plan.address + "\r\n_LV soak-" +
              std::to_string(plan.number) + "\r\n_LD\r\n";
    return script;
}

std::string IniFor(const UploadPlan &plan, const std::string &link)
{
    // No pause before the body: the soak is about what arrives, not about waiting.
    return "[Upload Settings]\nDelay=0\nBlock Size=" + std::to_string(plan.blockSize) +
           "\nBuffer Size=" + std::to_string(plan.bufferSize) +
           "\n[RS232Settings]\nComm Port=COM1\nBaud Rate=115200\n[Devices]\nCOM1=" + link + "\n";
}

std::string Describe(const UploadPlan &plan)
{
    static const std::array<const char *, 4> ways = {"", "a checked script command",
                                                     "a script command sent without waiting",
                                                     "the simulator's command line"};
    std::string text = std::to_string(plan.length) + " bytes, blocks of " +
                       std::to_string(plan.blockSize) + " through a buffer of " +
                       std::to_string(plan.bufferSize) + ", " + (plan.paced ? "paced" : "unpaced");
    if (plan.atEnd)
        text += ", device refuses the whole body (set by " +
                std::string(ways[static_cast<std::size_t>(plan.injection)]) + ")";
    else if (plan.Injected())
        text += ", device fails after " + std::to_string(plan.failAt) + " bytes (set by " +
                ways[static_cast<std::size_t>(plan.injection)] + ")";
    if (plan.errorPauseMs > 0)
        text += ", its error reply paused " + std::to_string(plan.errorPauseMs) + " ms after " +
                std::to_string(plan.errorSplit) + " bytes";
    return text;
}

} // namespace soak
