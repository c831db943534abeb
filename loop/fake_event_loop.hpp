// An event loop for tests: the same targets, timers and posted work as the
// real loops, on a virtual clock that only moves when the test says so. No
// test that uses it ever sleeps.
//
// The clock starts at zero. Advance moves it forward, stopping at every
// deadline on the way so that each timer fires at its own time (a handler
// that reads Now() sees its deadline) and timers armed by a handler fire in
// the same call when they fall due before its end. Posted work runs before
// the clock moves on. A handler that always re-arms its own timer with a
// zero interval keeps the clock from ever moving on, as it would keep a
// real loop busy.
#pragma once

#include "loop/queued_loop.hpp"

namespace marquo {

class FakeEventLoop final : public QueuedLoop {
public:
  LoopDuration Now() const override { return FNow; }

  // Runs posted work until none is left, without moving the clock.
  void RunPending();
  // Moves the clock forward by anInterval, firing what falls due.
  void Advance(LoopDuration anInterval);

  // Runs until Quit: pending work, then the clock jumps from deadline to
  // deadline. Returns when Quit is called or nothing is left to do.
  void Run() override;
  // Like Advance, but stops as soon as aDone answers true.
  bool RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) override;

private:
  LoopDuration FNow{0};
};

} // namespace marquo
