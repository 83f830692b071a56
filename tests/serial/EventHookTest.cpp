// Hooks on an event slot: the chain order, restoring exactly what was saved, and leaving the
// chain in any order without dropping a handler installed later.

#include "serial/EventHook.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

namespace
{

using Log = std::vector<std::string>;
using Slot = std::function<void(Log &, int)>;
using Hook = serial::TEventHook<Slot>;

void App(Log &log, int n)
{
    log.push_back("app" + std::to_string(n));
}

std::string Joined(const Log &log)
{
    std::string text;
    for (const std::string &entry : log)
        text += (text.empty() ? "" : " ") + entry;
    return text;
}

std::function<void(Log &, int)> Named(const std::string &name)
{
    return [name](Log &log, int n) { log.push_back(name + std::to_string(n)); };
}

struct HookCase {
    const char *name;
    // Words: X+ installs hook X, X- releases it, X~ unlinks it, X! destroys it, M wraps the
    // slot by hand (copy the old handler, call it after its own work).
    const char *steps;
    const char *calls; // what one event with argument 7 reaches afterwards
    bool refused;      // some release was refused
    bool appRestored;  // the slot holds exactly the application's handler again
};

class EventHookChain : public ::testing::TestWithParam<HookCase>
{
};

TEST_P(EventHookChain, LeavesTheChainWithoutDroppingOthers)
{
    const HookCase &c = GetParam();
    Slot slot = App;
    std::map<char, std::optional<Hook>> hooks;
    bool refused = false;
    std::istringstream steps(c.steps);
    for (std::string step; steps >> step;) {
        const char who = step[0];
        if (step == "M") {
            slot = [old = slot](Log &log, int n) { Named("manual")(log, n), old(log, n); };
            continue;
        }
        std::optional<Hook> &hook = hooks[who];
        switch (step[1]) {
        case '+':
            hook.emplace();
            hook->Install(slot, Named(std::string(1, who)));
            break;
        case '-':
            try {
                hook->Release();
            } catch (const std::logic_error &) {
                refused = true;
            }
            break;
        case '~':
            hook->Unlink();
            break;
        case '!':
            hook.reset();
            break;
        }
    }
    Log log;
    slot(log, 7);
    EXPECT_EQ(Joined(log), c.calls);
    EXPECT_EQ(refused, c.refused);
    auto *const *target = slot.target<void (*)(Log &, int)>();
    EXPECT_EQ(target != nullptr && *target == &App, c.appRestored);
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, EventHookChain,
    ::testing::Values(
        HookCase{"NewestFirstThenTheSaved", "A+ B+", "B7 A7 app7", false, false},
        HookCase{"ReleasedInOrder", "A+ B+ B- A-", "app7", false, true},
        HookCase{"ReleaseUnderAnotherRefused", "A+ B+ A-", "B7 A7 app7", true, false},
        HookCase{"ReleaseUnderAManualWrapRefused", "A+ M A-", "manual7 A7 app7", true, false},
        HookCase{"UnlinkedUnderAnother", "A+ B+ A~", "B7 app7", false, false},
        HookCase{"DestroyedUnderAnother", "A+ B+ A! B-", "app7", false, true},
        HookCase{"MiddleOfThreeLeaves", "A+ B+ C+ B~ C- A-", "app7", false, true},
        HookCase{"UnderAManualWrapPassesOn", "A+ M A~", "manual7 app7", false, false},
        HookCase{"BelowAPassOnOneStillWorks", "A+ B+ M B~ A~", "manual7 app7", false, false}),
    [](const ::testing::TestParamInfo<HookCase> &p) { return std::string(p.param.name); });

// A handler that switches its own hook off mid-event, and one that fails: the handlers below
// still get that event.
TEST(EventHook, HandlersBelowGetTheEventWhateverTheHookDoes)
{
    Slot slot = App;
    Hook hook;
    hook.Install(slot, [&](Log &log, int n) {
        log.push_back("off" + std::to_string(n));
        hook.Release();
    });
    Log log;
    slot(log, 1);
    slot(log, 2);
    EXPECT_EQ(Joined(log), "off1 app1 app2");
    EXPECT_FALSE(hook.Installed());

    hook.Install(slot, [](Log &, int) { throw std::runtime_error("lamp failed"); });
    log.clear();
    EXPECT_THROW(slot(log, 3), std::runtime_error);
    EXPECT_EQ(Joined(log), "app3");
    EXPECT_THROW(hook.Install(slot, App), std::logic_error);
}

} // namespace
