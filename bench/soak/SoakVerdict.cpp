#include "bench/soak/SoakVerdict.h"

#include <sstream>

namespace soak
{
namespace
{

constexpr std::string_view UploadErrorBox =
    "Error: Upload error encountered, script aborted! Reset remote system.";

// The value of "name" in one report line: a string without its quotes (the fields read here
// hold no escapes), or a number or flag as written. Empty when the field is absent.
std::string Field(std::string_view line, std::string_view name)
{
    const std::string key = "\"" + std::string(name) + "\":";
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos)
        return {};
    std::size_t from = at + key.size();
    if (from < line.size() && line[from] == '"')
        return std::string(line.substr(from + 1, line.find('"', from + 1) - from - 1));
    return std::string(line.substr(from, line.find_first_of(",}", from) - from));
}

uint64_t Number(const std::string &text)
{
    try {
        return text.empty() ? 0 : std::stoull(text);
    } catch (const std::exception &) {
        return 0;
    }
}

enum class Reported { Success, UploadError, OtherFailure };

std::string FirstErrorBox(const std::string &boxes)
{
    std::istringstream lines(boxes);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Error: ", 0) == 0)
            return line;
    return {};
}

Reported ReadLoader(const LoaderOutcome &loader, std::string &told)
{
    switch (loader.end) {
    case LoaderOutcome::End::TimedOut:
        told = "did not end in time";
        return Reported::OtherFailure;
    case LoaderOutcome::End::Signalled:
        told = "ended by signal " + std::to_string(loader.code);
        return Reported::OtherFailure;
    case LoaderOutcome::End::Exited:
        break;
    }
    const std::string box = FirstErrorBox(loader.boxes);
    const bool uploadError = loader.boxes.find(UploadErrorBox) != std::string::npos;
    told = "exit " + std::to_string(loader.code) + ", " + (box.empty() ? "no error box" : box);
    if (loader.code == 0 && box.empty())
        return Reported::Success;
    // The exit status and the boxes must agree before the report counts as an upload error.
    if (loader.code == 1 && uploadError)
        return Reported::UploadError;
    return Reported::OtherFailure;
}

std::string DescribeRecord(const DeviceRecord &record)
{
    if (!record.valid)
        return "header rejected";
    return record.end + ", " + std::to_string(record.received) + " of " +
           std::to_string(record.length) + " bytes, sum " + record.receivedChecksum;
}

// Judges the device's side; returns why the body counts as lost or corrupt, or nothing.
std::string JudgeDevice(const UploadPlan &plan, std::string_view body,
                        const std::vector<DeviceRecord> &records, uint64_t &intactBytes)
{
    if (records.empty())
        return "the device saw no upload";
    if (records.size() > 1)
        return "the device saw " + std::to_string(records.size()) + " uploads";
    const DeviceRecord &record = records.front();
    if (!record.valid)
        return "the device rejected the header";
    if (record.length != body.size() || record.checksum != Checksum(body))
        return "the header announced " + std::to_string(record.length) + " bytes with sum " +
               record.checksum;
    if (record.received > body.size() ||
        record.receivedChecksum != Checksum(body.substr(0, record.received)))
        return "the body arrived corrupt";
    intactBytes = record.received;
    if (!plan.Injected()) {
        if (record.end != "complete" || record.received != body.size())
            return "the body was not completed";
        return {};
    }
    if (record.end != "failed" || record.received != plan.failAt)
        return "the device did not fail where armed";
    return {};
}

} // namespace

std::vector<DeviceRecord> ParseReport(std::string_view text)
{
    std::vector<DeviceRecord> records;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        records.push_back({Field(line, "valid") == "true", Number(Field(line, "length")),
                           Field(line, "checksum"), Number(Field(line, "received")),
                           Field(line, "received_checksum"), Field(line, "end")});
    }
    return records;
}

Verdict Judge(const UploadPlan &plan, std::string_view body, const LoaderOutcome &loader,
              const std::vector<DeviceRecord> &records)
{
    Verdict verdict;
    const Reported reported = ReadLoader(loader, verdict.loader);
    verdict.device = records.empty() ? "no upload" : DescribeRecord(records.front());
    verdict.lost = JudgeDevice(plan, body, records, verdict.intactBytes);
    if (plan.Injected() && reported != Reported::UploadError)
        verdict.misreport = reported == Reported::Success
                                ? "an injected device error was reported as a success"
                                : "an injected device error was not reported as an upload error";
    if (!plan.Injected() && reported != Reported::Success)
        verdict.misreport = "a clean upload was reported as failed";
    return verdict;
}

} // namespace soak
