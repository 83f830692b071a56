// The child processes the tests and benches start: streams, environment, folder, and ending.

#include "tests/support/ChildProcess.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/wait.h>

namespace
{

using testsupport::ChildOptions;
using testsupport::ChildOutput;
using testsupport::ChildProcess;
using testsupport::Clock;

// Generous bound on a child's end; never a measurement.
constexpr auto GiveUpAfter = std::chrono::seconds(10);

TEST(ChildProcess, StartsProgramsWithTheirStreamsEnvironmentAndFolder)
{
    struct Case {
        const char *script; // for sh -c
        ChildOutput err;
        std::vector<std::string> unsetEnv;
        std::vector<std::pair<std::string, std::string>> setEnv;
        std::string dir;
        int code;
        std::string out, errText;
    };
    const Case cases[] = {
        {"echo out; echo err >&2; exit 3",
         ChildOutput::Captured(),
         {},
         {},
         "",
         3,
         "out\n",
         "err\n"},
        {"echo a; echo b >&2", ChildOutput::SameAsOutput(), {}, {}, "", 0, "a\nb\n", ""},
        {"echo \"${X-}${HOME-none}\"",
         ChildOutput::Captured(),
         {"HOME"},
         {{"X", "1"}},
         "",
         0,
         "1none\n",
         ""},
        {"pwd", ChildOutput::Captured(), {}, {}, "/", 0, "/\n", ""},
        {"cat", ChildOutput::Captured(), {}, {}, "", 0, "", ""}, // input from /dev/null
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        ChildOptions options;
        options.out = ChildOutput::Captured();
        options.err = c.err;
        options.unsetEnv = c.unsetEnv;
        options.setEnv = c.setEnv;
        options.dir = c.dir;
        options.nullInput = true;
        ChildProcess child("/bin/sh", {"-c", c.script}, options);
        const std::optional<int> status = child.WaitUntil(Clock::now() + GiveUpAfter);
        ASSERT_TRUE(status);
        EXPECT_EQ(testsupport::ExitCode(*status), c.code);
        EXPECT_EQ(child.Output(), c.out);
        EXPECT_EQ(child.Error(), c.errText);
    }
}

TEST(ChildProcess, EndsAsAskedAndSaysWhenItCannotStart)
{
    EXPECT_THROW(ChildProcess("/nonexistent/program", {}), std::runtime_error);

    ChildProcess body([] { return 7; });
    EXPECT_EQ(testsupport::ExitCode(body.Wait()), 7);

    // A stopped child still ends on Stop, by SIGTERM, not only by the SIGKILL after the grace.
    ChildProcess stopped("/bin/sleep", {"30"});
    EXPECT_FALSE(stopped.WaitUntil(Clock::now()));
    ASSERT_TRUE(stopped.Signal(SIGSTOP));
    const int status =
        stopped.Stop(std::chrono::duration_cast<std::chrono::milliseconds>(GiveUpAfter));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(stopped.Running());
    EXPECT_FALSE(stopped.Signal(SIGTERM));
}

} // namespace
