// The platform's real loop (poll() on POSIX, the message loop on Windows):
// the same contract as the fake, on the real clock. Nothing here measures
// time; every wait is bounded by RunUntil.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loop/event_loop.hpp"

namespace {

using marquo::EventLoop;
using marquo::EventTarget;
using std::chrono::milliseconds;

constexpr milliseconds kPatience(10000);

class EventLoopTest : public ::testing::Test {
protected:
  std::unique_ptr<EventLoop> loop = marquo::CreateEventLoop();
  std::vector<std::string> log;
};

TEST_F(EventLoopTest, PostedWorkRunsFromTheLoopInPostingOrder) {
  auto target = loop->CreateTarget(nullptr);
  target->Post([&] {
    log.push_back("a");
    target->Post([&] { log.push_back("c"); });
  });
  target->Post([&] { log.push_back("b"); });
  EXPECT_TRUE(log.empty()) << "Post ran work inside the call";
  EXPECT_TRUE(loop->RunUntil([&] { return log.size() == 3; }, kPatience));
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(EventLoopTest, TimerFiresOnceAndIsDisarmedBeforeItsHandler) {
  std::unique_ptr<EventTarget> target;
  target = loop->CreateTarget([&](unsigned aNumber) {
    log.push_back(std::to_string(aNumber) + (target->IsArmed(aNumber) ? " armed" : " disarmed"));
  });
  target->Arm(3, milliseconds(10));
  target->Arm(3, milliseconds(20)); // a restart, not a second timer
  ASSERT_TRUE(loop->RunUntil([&] { return !log.empty(); }, kPatience));
  EXPECT_FALSE(loop->RunUntil([&] { return log.size() > 1; }, milliseconds(200)));
  EXPECT_EQ(log, (std::vector<std::string>{"3 disarmed"}));
}

TEST_F(EventLoopTest, ShorterTimerFiresFirstAndDisarmedOneNever) {
  auto target =
      loop->CreateTarget([&](unsigned aNumber) { log.push_back(std::to_string(aNumber)); });
  target->Arm(1, milliseconds(400));
  target->Arm(2, milliseconds(10));
  target->Arm(3, milliseconds(10));
  target->Disarm(3);
  ASSERT_TRUE(loop->RunUntil([&] { return log.size() == 2; }, kPatience));
  EXPECT_EQ(log, (std::vector<std::string>{"2", "1"}));
}

TEST_F(EventLoopTest, HandlerCanRearmItsOwnTimer) {
  std::unique_ptr<EventTarget> target;
  target = loop->CreateTarget([&](unsigned aNumber) {
    log.push_back("tick");
    if (log.size() < 3)
      target->Arm(aNumber, milliseconds(10));
  });
  target->Arm(1, milliseconds(10));
  EXPECT_TRUE(loop->RunUntil([&] { return log.size() == 3; }, kPatience));
  EXPECT_FALSE(target->IsArmed(1));
}

TEST_F(EventLoopTest, DestroyedTargetDropsItsTimersAndWork) {
  auto doomed = loop->CreateTarget([&](unsigned) { log.push_back("doomed timer"); });
  auto survivor = loop->CreateTarget([&](unsigned) { log.push_back("survivor timer"); });
  doomed->Arm(1, milliseconds(10));
  doomed->Post([&] { log.push_back("doomed work"); });
  survivor->Arm(1, milliseconds(50));
  doomed.reset();
  ASSERT_TRUE(loop->RunUntil([&] { return !log.empty(); }, kPatience));
  EXPECT_EQ(log, (std::vector<std::string>{"survivor timer"}));
}

TEST_F(EventLoopTest, EscapingExceptionsAreReportedAndTheLoopGoesOn) {
  loop->OnUnhandledException = [&](const std::string &aWhat) { log.push_back("caught " + aWhat); };
  auto target = loop->CreateTarget([](unsigned) { throw std::runtime_error("timer failed"); });
  target->Post([] { throw std::runtime_error("work failed"); });
  target->Post([&] { log.push_back("next work"); });
  target->Arm(1, milliseconds(10));
  ASSERT_TRUE(loop->RunUntil([&] { return log.size() == 3; }, kPatience));
  EXPECT_EQ(log,
            (std::vector<std::string>{"caught work failed", "next work", "caught timer failed"}));
}

TEST_F(EventLoopTest, RunReturnsAtQuit) {
  auto target = loop->CreateTarget([&](unsigned) {
    log.push_back("quit");
    loop->Quit();
  });
  target->Arm(1, milliseconds(10));
  loop->Run();
  EXPECT_EQ(log, std::vector<std::string>{"quit"});
}

TEST_F(EventLoopTest, RunUntilGivesUpAfterItsInterval) {
  EXPECT_FALSE(loop->RunUntil([] { return false; }, milliseconds(30)));
}

} // namespace
