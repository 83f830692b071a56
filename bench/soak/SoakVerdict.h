#pragma once
// What one upload of the soak came to: what the loader reported against what the device
// received, judged against what the upload's plan makes the right outcome.

#include "bench/soak/SoakPlan.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace soak
{

struct LoaderOutcome {
    enum class End { Exited, Signalled, TimedOut };
    End end = End::Exited;
    int code = 0;      // exit status, or the signal that ended it
    std::string boxes; // standard error: the message boxes the run showed
};

// One line of the simulator's upload report, with the fields judged here.
struct DeviceRecord {
    bool valid = false;
    uint64_t length = 0;
    std::string checksum;
    uint64_t received = 0;
    std::string receivedChecksum;
    std::string end;
};

std::vector<DeviceRecord> ParseReport(std::string_view text);

struct Verdict {
    std::string loader;       // what the loader reported
    std::string device;       // what the device saw
    std::string lost;         // why the body counts as lost or corrupt; empty when it does not
    std::string misreport;    // why the report counts as wrong; empty when it does not
    uint64_t intactBytes = 0; // body bytes the device received as they were sent

    bool Fine() const { return lost.empty() && misreport.empty(); }
};

// A clean upload must reach the device whole and be reported as a success; an injected failure
// must leave the device with an intact part of the body up to the failure, and be reported as an
// upload error.
Verdict Judge(const UploadPlan &plan, std::string_view body, const LoaderOutcome &loader,
              const std::vector<DeviceRecord> &records);

} // namespace soak
