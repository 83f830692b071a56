#include "tests/support/RecordedHelp.h"

#include <utility>

namespace testsupport
{

RecordedHelp::RecordedHelp()
{
    previous_ = platform::SetHelpOpener([this](const std::string &helpFile, int command, int data) {
        requests_.push_back({helpFile, command, data});
    });
}

RecordedHelp::~RecordedHelp()
{
    platform::SetHelpOpener(std::move(previous_));
}

} // namespace testsupport
