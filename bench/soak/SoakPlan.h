#pragma once
// One upload of the soak. Everything about it is drawn from the run's seed and the upload's
// number alone, so any upload of a run can be made again by itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace soak
{

constexpr std::size_t MaxBodyLength = 256 * 1024;
// "Buffer Size" is read as an unsigned 16-bit value and raised to 2078 when lower.
constexpr unsigned MinBufferSize = 2078;
constexpr unsigned MaxBufferSize = 65535;

// How the device is told to fail: a checked command of the script, a command the script sends
// without waiting, or the simulator's command line.
enum class Injection { None, ScriptTest, ScriptSend, CommandLine };

struct UploadPlan {
    int number = 0; // 1-based
    std::size_t length = 0;
    unsigned bufferSize = MinBufferSize;
    unsigned blockSize = 1; // 1 .. bufferSize
    bool paced = false;
    Injection injection = Injection::None;
    std::size_t failAt = 0; // body bytes the device takes before it fails; length: at the end
    bool atEnd = false;     // the device reads the whole body, then refuses it
    // The device's error reply comes slowly: its first errorSplit bytes, a pause, the rest.
    unsigned errorSplit = 1;
    unsigned errorPauseMs = 0;
    uint64_t bodySeed = 0;
    std::string address;

    bool Injected() const { return injection != Injection::None; }
};

// In every ten consecutive uploads exactly one has an injected failure and five are paced.
UploadPlan PlanUpload(uint64_t seed, int number);

std::string MakeBody(const UploadPlan &plan);

// The upload header's checksum: the 16-bit sum of the bytes, as four upper-case hex digits.
std::string Checksum(std::string_view bytes);

std::string ScriptFor(const UploadPlan &plan, const std::string &bodyFile);
std::string IniFor(const UploadPlan &plan, const std::string &link);

// One line for reports: size, transfer sizes, pacing and the injection.
std::string Describe(const UploadPlan &plan);

} // namespace soak
