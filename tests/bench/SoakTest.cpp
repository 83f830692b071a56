// The soak's draws stay within the loader's valid settings and reach their edges, and its
// judgement tells a sound upload from a lost, corrupt or misreported one.

#include "bench/soak/SoakPlan.h"
#include "bench/soak/SoakVerdict.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace
{

using soak::LoaderOutcome;
using soak::UploadPlan;

TEST(SoakPlanTest, DrawsStayInRangeReachTheEdgesAndRepeatFromTheSeed)
{
    std::set<std::string> edges;
    for (uint64_t seed : {1ULL, 42ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        for (int group = 0; group < 100; ++group) {
            int injected = 0;
            int paced = 0;
            for (int number = group * 10 + 1; number <= group * 10 + 10; ++number) {
                const UploadPlan plan = soak::PlanUpload(seed, number);
                ASSERT_GE(plan.bufferSize, soak::MinBufferSize);
                ASSERT_LE(plan.bufferSize, soak::MaxBufferSize);
                ASSERT_GE(plan.blockSize, 1u);
                ASSERT_LE(plan.blockSize, plan.bufferSize);
                ASSERT_LE(plan.length, soak::MaxBodyLength);
                if (plan.Injected()) {
                    ASSERT_LT(plan.failAt, plan.length + (plan.atEnd ? 1 : 0))
                        << "a failure past the end never fires";
                    ASSERT_EQ(plan.failAt == plan.length, plan.atEnd);
                    ASSERT_LE(plan.errorPauseMs, 1000u);
                }
                injected += plan.Injected() ? 1 : 0;
                paced += plan.paced ? 1 : 0;
                const UploadPlan again = soak::PlanUpload(seed, number);
                ASSERT_EQ(soak::MakeBody(again), soak::MakeBody(plan));
                ASSERT_EQ(soak::Describe(again), soak::Describe(plan));

                if (plan.blockSize == 1)
                    edges.insert("block 1");
                if (plan.blockSize == plan.bufferSize)
                    edges.insert("block = buffer");
                if (plan.bufferSize == soak::MinBufferSize)
                    edges.insert("smallest buffer");
                if (plan.bufferSize == soak::MaxBufferSize)
                    edges.insert("largest buffer");
                if (plan.length == 0)
                    edges.insert("empty body");
                if (plan.length == soak::MaxBodyLength)
                    edges.insert("largest body");
                if (plan.Injected() && plan.failAt == 0)
                    edges.insert("fail at once");
                if (plan.Injected() && plan.failAt + 1 == plan.length)
                    edges.insert("fail at the last byte");
                if (plan.atEnd)
                    edges.insert("refuse the whole body");
                if (plan.errorPauseMs > 0 && plan.errorSplit == 1)
                    edges.insert("error reply paused after its first byte");
            }
            EXPECT_EQ(injected, 1);
            EXPECT_EQ(paced, 5);
        }
    }
    EXPECT_EQ(edges.size(), 10u);
    EXPECT_NE(soak::MakeBody(soak::PlanUpload(1, 1)), soak::MakeBody(soak::PlanUpload(2, 1)));
}

TEST(SoakPlanTest, ChecksumIsTheHeadersSixteenBitSum)
{
    EXPECT_EQ(soak::Checksum(""), "0000");
    EXPECT_EQ(soak::Checksum(std::string("\x01\x02\x03", 3)), "0006");
    EXPECT_EQ(soak::Checksum(std::string(258, '\xFF')), "00FE");
}

// The simulator's report line for the 10-byte body below.
std::string Line(const std::string &end, std::size_t received, const std::string &sum,
                 const std::string &announced = "")
{
    const std::string body = "0123456789";
    return "{\"header\":\"LF 0 10 x v\",\"valid\":true,\"address\":\"0\",\"length\":10,"
           "\"checksum\":\"" +
           (announced.empty() ? soak::Checksum(body) : announced) +
           "\",\"version\":\"v\",\"received\":" + std::to_string(received) +
           ",\"received_checksum\":\"" + sum + "\",\"end\":\"" + end + "\"}\n";
}

TEST(SoakVerdictTest, JudgesBothSidesOfEveryOutcome)
{
    const std::string body = "0123456789";
    const std::string whole = soak::Checksum(body);
    const std::string firstFour = soak::Checksum(body.substr(0, 4));
    const std::string uploadError = "Error: Upload error encountered, script aborted! Reset "
                                    "remote system.\nFile: body.bin\n";
    const std::string scriptError = "Error: Script error encountered! - System not responding "
                                    "or command error.\n";
    const LoaderOutcome success{LoaderOutcome::End::Exited, 0, "Information: noted\n"};
    const LoaderOutcome failed{LoaderOutcome::End::Exited, 1, uploadError};

    struct Case {
        const char *name;
        bool injected; // the device fails after 4 bytes
        LoaderOutcome loader;
        std::string report;
        bool lost;
        bool misreported;
        uint64_t intact;
    };
    const std::vector<Case> cases = {
        {"clean and whole", false, success, Line("complete", 10, whole), false, false, 10},
        {"clean, reported failed", false, failed, Line("complete", 10, whole), false, true, 10},
        {"clean, loader hung",
         false,
         {LoaderOutcome::End::TimedOut, 0, ""},
         Line("complete", 10, whole),
         false,
         true,
         10},
        {"clean, loader crashed",
         false,
         {LoaderOutcome::End::Signalled, 11, ""},
         Line("complete", 10, whole),
         false,
         true,
         10},
        {"clean, cut short", false, success, Line("hangup", 9, soak::Checksum(body.substr(0, 9))),
         true, false, 9},
        {"clean, corrupt", false, success, Line("complete", 10, "0000"), true, false, 0},
        {"clean, wrong header", false, success, Line("complete", 10, whole, "0001"), true, false,
         0},
        {"clean, never arrived", false, success, "", true, false, 0},
        {"clean, twice", false, success, Line("complete", 10, whole) + Line("complete", 10, whole),
         true, false, 0},
        {"injected and reported", true, failed, Line("failed", 4, firstFour), false, false, 4},
        {"injected, reported success", true, success, Line("failed", 4, firstFour), false, true, 4},
        {"injected, script error",
         true,
         {LoaderOutcome::End::Exited, 1, scriptError},
         Line("failed", 4, firstFour),
         false,
         true,
         4},
        {"injected, box without status",
         true,
         {LoaderOutcome::End::Exited, 0, uploadError},
         Line("failed", 4, firstFour),
         false,
         true,
         4},
        {"injected, prefix corrupt", true, failed, Line("failed", 4, "0000"), true, false, 0},
        {"injected, never failed", true, failed, Line("complete", 10, whole), true, false, 10},
    };
    for (const Case &c : cases) {
        UploadPlan plan;
        plan.length = body.size();
        plan.injection = c.injected ? soak::Injection::ScriptTest : soak::Injection::None;
        plan.failAt = 4;
        const soak::Verdict verdict =
            soak::Judge(plan, body, c.loader, soak::ParseReport(c.report));
        EXPECT_EQ(!verdict.lost.empty(), c.lost) << c.name << ": " << verdict.lost;
        EXPECT_EQ(!verdict.misreport.empty(), c.misreported) << c.name << ": " << verdict.misreport;
        EXPECT_EQ(verdict.intactBytes, c.intact) << c.name;
    }
}

} // namespace
