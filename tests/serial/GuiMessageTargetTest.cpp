// The GUI-thread message target: a blocking send from another thread, the 1000 ms limit until the
// handler begins, abandoned messages, and direct calls on the GUI thread.

#include "serial/GuiMessageTarget.h"
#include "tests/support/ScriptedBoxes.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace serial;
using namespace std::chrono_literals;

namespace
{

// Lets the GUI thread handle posted events until the sender has its answer.
template <typename T> T PumpUntil(std::future<T> &answer)
{
    while (answer.wait_for(1ms) != std::future_status::ready)
        QCoreApplication::processEvents();
    return answer.get();
}

} // namespace

TEST(GuiMessageTarget, OnTheGuiThreadTheHandlerRunsAtOnce)
{
    std::vector<unsigned> got;
    TGuiMessageTarget target([&](unsigned msg, uintptr_t, intptr_t) { got.push_back(msg); });
    EXPECT_TRUE(target.SendMessage(0x7E08, 0, 0));
    EXPECT_EQ(got, std::vector<unsigned>{0x7E08});
}

TEST(GuiMessageTarget, AnotherThreadWaitsWhileTheGuiThreadHandles)
{
    QThread *handledOn = nullptr;
    intptr_t seenLParam = 0;
    TGuiMessageTarget target([&](unsigned, uintptr_t, intptr_t lParam) {
        handledOn = QThread::currentThread();
        seenLParam = lParam;
    });
    auto answer =
        std::async(std::launch::async, [&] { return target.SendMessage(0x7E02, 3, 0x00050002); });
    EXPECT_TRUE(PumpUntil(answer));
    EXPECT_EQ(handledOn, QThread::currentThread());
    EXPECT_EQ(seenLParam, 0x00050002);
}

TEST(GuiMessageTarget, AMessageNotBegunInTimeIsAbandonedAndSkipped)
{
    int handled = 0;
    TGuiMessageTarget target([&](unsigned, uintptr_t, intptr_t) { ++handled; });
    auto late = std::async(std::launch::async, [&] { return target.SendMessage(1, 0, 0, 50); });
    EXPECT_FALSE(late.get()); // the GUI thread did not take events meanwhile
    auto onTime = std::async(std::launch::async, [&] { return target.SendMessage(2, 0, 0); });
    EXPECT_TRUE(PumpUntil(onTime));
    EXPECT_EQ(handled, 1);
}

TEST(GuiMessageTarget, ATargetGoingAwayReleasesItsSenders)
{
    auto target = std::make_unique<TGuiMessageTarget>([](unsigned, uintptr_t, intptr_t) {});
    std::shared_ptr<TSendTicket> ticket = target->PostMessage(1, 0, 0);
    auto answer = std::async(std::launch::async, [&] { return ticket->Wait(60000); });
    target.reset();
    EXPECT_FALSE(answer.get());
    QCoreApplication::processEvents();
}

TEST(GuiMessageTarget, AnExceptionInTheHandlerIsShownAndTheSenderGoesOn)
{
    testsupport::ScriptedBoxes boxes;
    TGuiMessageTarget target(
        [](unsigned, uintptr_t, intptr_t) { throw std::runtime_error("Bad trigger handle"); });
    auto answer = std::async(std::launch::async, [&] { return target.SendMessage(1, 0, 0); });
    EXPECT_TRUE(PumpUntil(answer));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Bad trigger handle");
}
