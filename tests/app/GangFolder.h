#pragma once
// A folder for one gang run: a device simulator per port, each on its own link with its own
// report, loader.ini naming them COM1, COM2, ..., and the real loader started there.

#include "tests/app/RunFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace runtest
{

class GangFolder
{
  public:
    // One simulator for each entry of `devices`, with those extra arguments; device i (from 0)
    // is COM i+1, on link "linkI" reporting to "reportI.jsonl".
    explicit GangFolder(const std::vector<std::vector<std::string>> &devices);

    testsupport::TempDir dir;

    std::string Link(std::size_t device) const;
    void Write(const std::string &name, const std::string &content) const
    {
        dir.Write(name, content);
    }
    std::vector<Upload> Uploads(std::size_t device, std::size_t expected) const;
    bool SignalDevice(std::size_t device, int signal) { return devices_[device]->Signal(signal); }

    std::unique_ptr<testsupport::ChildProcess> Start(const std::vector<std::string> &args) const
    {
        return StartLoader(dir.Path(), args);
    }
    // The port's log (in the folder: "Default Path" is not set) with its time masked; empty when
    // there is none.
    std::string MaskedLog(const std::string &logName) const;
    // The names of the loader logs in the folder, any of them.
    std::vector<std::string> Logs() const;

  private:
    std::vector<std::unique_ptr<testsupport::DevsimProcess>> devices_;
};

} // namespace runtest
