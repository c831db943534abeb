// Timers and posted work on the fake loop, whose clock moves only when the
// test advances it. The same queue drives the POSIX loop.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loop/fake_event_loop.hpp"

namespace {

using marquo::EventTarget;
using marquo::FakeEventLoop;
using marquo::LoopDuration;
using std::chrono::milliseconds;

// Records each firing as "number@time".
struct TimerLog {
  FakeEventLoop loop;
  std::vector<std::string> fired;
  std::unique_ptr<EventTarget> target = loop.CreateTarget([this](unsigned aNumber) {
    fired.push_back(std::to_string(aNumber) + "@" + std::to_string(loop.Now().count()));
  });
};

TEST(FakeLoopTimerTest, RearmingARunningTimerRestartsIt) {
  TimerLog t;
  t.target->Arm(1, milliseconds(100));
  t.loop.Advance(milliseconds(60));
  t.target->Arm(1, milliseconds(100)); // due at 160 now, not at 100
  t.loop.Advance(milliseconds(99));
  EXPECT_TRUE(t.fired.empty());
  t.loop.Advance(milliseconds(1));
  EXPECT_EQ(t.fired, (std::vector<std::string>{"1@160"}));
  t.loop.Advance(milliseconds(1000));
  EXPECT_EQ(t.fired.size(), 1u) << "a restarted timer fired twice";
}

TEST(FakeLoopTimerTest, FiredTimerIsDisarmedBeforeItsHandlerRuns) {
  FakeEventLoop loop;
  std::vector<bool> armedInHandler;
  std::unique_ptr<EventTarget> target;
  target = loop.CreateTarget(
      [&](unsigned aNumber) { armedInHandler.push_back(target->IsArmed(aNumber)); });
  target->Arm(2, milliseconds(10));
  EXPECT_TRUE(target->IsArmed(2));
  loop.Advance(milliseconds(500));
  EXPECT_EQ(armedInHandler, std::vector<bool>{false});
  EXPECT_FALSE(target->IsArmed(2));
}

TEST(FakeLoopTimerTest, EqualDeadlinesFireInArmingOrder) {
  struct Row {
    const char *name;
    std::vector<unsigned> arming; // each armed with the same interval at time 0
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"ascending", {1, 2, 3}, {"1@50", "2@50", "3@50"}},
      {"descending", {3, 2, 1}, {"3@50", "2@50", "1@50"}},
      {"re-arming moves a timer to the back", {1, 2, 3, 1}, {"2@50", "3@50", "1@50"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TimerLog t;
    for (const unsigned number : row.arming)
      t.target->Arm(number, milliseconds(50));
    t.loop.Advance(milliseconds(50));
    EXPECT_EQ(t.fired, row.expected);
  }
}

TEST(FakeLoopTimerTest, TimersOfSeveralTargetsFireInDeadlineOrderAtTheirOwnTime) {
  TimerLog a;
  std::vector<std::string> other;
  auto second = a.loop.CreateTarget([&](unsigned aNumber) {
    a.fired.push_back("other" + std::to_string(aNumber) + "@" +
                      std::to_string(a.loop.Now().count()));
  });
  a.target->Arm(1, milliseconds(300));
  second->Arm(1, milliseconds(100));
  a.target->Arm(2, milliseconds(200));
  a.loop.Advance(milliseconds(1000));
  EXPECT_EQ(a.fired, (std::vector<std::string>{"other1@100", "2@200", "1@300"}));
  EXPECT_EQ(a.loop.Now(), milliseconds(1000));
}

TEST(FakeLoopTimerTest, HandlerThatRearmsItsOwnTimerFiresAgainWithinOneAdvance) {
  FakeEventLoop loop;
  std::vector<long long> times;
  std::unique_ptr<EventTarget> target;
  target = loop.CreateTarget([&](unsigned aNumber) {
    times.push_back(loop.Now().count());
    if (times.size() < 4)
      target->Arm(aNumber, milliseconds(100));
  });
  target->Arm(3, milliseconds(100));
  loop.Advance(milliseconds(1000));
  EXPECT_EQ(times, (std::vector<long long>{100, 200, 300, 400}));
}

TEST(FakeLoopTimerTest, DisarmedTimerNeverFires) {
  TimerLog t;
  t.target->Arm(1, milliseconds(10));
  t.target->Arm(2, milliseconds(10));
  t.target->Disarm(1);
  t.target->Disarm(7); // never armed: nothing happens
  t.loop.Advance(milliseconds(100));
  EXPECT_EQ(t.fired, (std::vector<std::string>{"2@10"}));
}

TEST(FakeLoopTimerTest, HandlerDisarmingAnotherDueTimerStopsIt) {
  FakeEventLoop loop;
  std::vector<unsigned> fired;
  std::unique_ptr<EventTarget> target;
  target = loop.CreateTarget([&](unsigned aNumber) {
    fired.push_back(aNumber);
    target->Disarm(2);
  });
  target->Arm(1, milliseconds(10));
  target->Arm(2, milliseconds(10));
  loop.Advance(milliseconds(10));
  EXPECT_EQ(fired, std::vector<unsigned>{1});
}

TEST(FakeLoopPostTest, PostedWorkRunsLaterInPostingOrder) {
  FakeEventLoop loop;
  auto target = loop.CreateTarget(nullptr);
  std::vector<std::string> log;
  target->Post([&] {
    log.push_back("a");
    target->Post([&] { log.push_back("c"); }); // after everything posted before it
  });
  target->Post([&] { log.push_back("b"); });
  EXPECT_TRUE(log.empty()) << "Post ran work inside the call";
  loop.RunPending();
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(FakeLoopPostTest, PostedWorkRunsBeforeTheClockMovesOn) {
  TimerLog t;
  t.target->Arm(1, milliseconds(10));
  t.target->Post([&] { t.fired.push_back("posted@" + std::to_string(t.loop.Now().count())); });
  t.loop.Advance(milliseconds(10));
  EXPECT_EQ(t.fired, (std::vector<std::string>{"posted@0", "1@10"}));
}

TEST(FakeLoopPostTest, DestroyedTargetDropsItsTimersAndWork) {
  FakeEventLoop loop;
  int ran = 0;
  auto doomed = loop.CreateTarget([&](unsigned) { ++ran; });
  auto survivor = loop.CreateTarget([&](unsigned) { ran += 100; });
  doomed->Arm(1, milliseconds(10));
  doomed->Post([&] { ++ran; });
  survivor->Arm(1, milliseconds(10));
  doomed.reset();
  loop.Advance(milliseconds(100));
  EXPECT_EQ(ran, 100);
}

TEST(FakeLoopPostTest, TargetDestroyedByItsOwnWorkDropsTheRest) {
  FakeEventLoop loop;
  std::unique_ptr<EventTarget> target = loop.CreateTarget(nullptr);
  int ran = 0;
  target->Post([&] {
    ++ran;
    target.reset();
  });
  target->Post([&] { ++ran; });
  loop.RunPending();
  EXPECT_EQ(ran, 1);
}

TEST(FakeLoopGuardTest, EscapingExceptionsAreReportedAndTheLoopGoesOn) {
  FakeEventLoop loop;
  std::vector<std::string> reported;
  loop.OnUnhandledException = [&](const std::string &aWhat) { reported.push_back(aWhat); };
  int later = 0;
  auto target = loop.CreateTarget([&](unsigned aNumber) {
    if (aNumber == 1)
      throw std::runtime_error("timer failed");
    ++later;
  });
  target->Post([] { throw 42; });
  target->Arm(1, milliseconds(10));
  target->Arm(2, milliseconds(20));
  loop.Advance(milliseconds(30));
  EXPECT_EQ(reported, (std::vector<std::string>{"unknown exception", "timer failed"}));
  EXPECT_EQ(later, 1);
}

TEST(FakeLoopRunTest, RunUntilStopsAtTheConditionOrAtTheInterval) {
  TimerLog t;
  t.target->Arm(1, milliseconds(100));
  t.target->Arm(2, milliseconds(300));
  EXPECT_TRUE(t.loop.RunUntil([&] { return !t.fired.empty(); }, milliseconds(1000)));
  EXPECT_EQ(t.loop.Now(), milliseconds(100));
  EXPECT_FALSE(t.loop.RunUntil([] { return false; }, milliseconds(50)));
  EXPECT_EQ(t.loop.Now(), milliseconds(150));
  EXPECT_EQ(t.fired, (std::vector<std::string>{"1@100"}));
}

TEST(FakeLoopRunTest, RunEndsAtQuit) {
  FakeEventLoop loop;
  std::unique_ptr<EventTarget> target;
  int fired = 0;
  target = loop.CreateTarget([&](unsigned aNumber) {
    if (++fired == 3)
      loop.Quit();
    else
      target->Arm(aNumber, milliseconds(1000));
  });
  target->Arm(1, milliseconds(1000));
  loop.Run();
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(loop.Now(), milliseconds(3000));
}

} // namespace
