#pragma once
// Records every help request instead of opening the manual, while the guard lives.

#include "platform/Help.h"

#include <string>
#include <vector>

namespace testsupport
{

struct HelpRequest {
    std::string helpFile;
    int command;
    int data;

    bool operator==(const HelpRequest &) const = default;
};

class RecordedHelp
{
  public:
    RecordedHelp();
    ~RecordedHelp();
    RecordedHelp(const RecordedHelp &) = delete;
    RecordedHelp &operator=(const RecordedHelp &) = delete;

    const std::vector<HelpRequest> &Requests() const { return requests_; }
    void Clear() { requests_.clear(); }

  private:
    platform::HelpOpener previous_;
    std::vector<HelpRequest> requests_;
};

} // namespace testsupport
