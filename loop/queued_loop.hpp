// The portable half of the POSIX loop and of the fake loop: targets, their
// numbered timers on a TimerQueue, and one first-in first-out queue of
// posted work. What differs is the clock and how the loop waits.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>

#include "loop/event_loop.hpp"
#include "loop/timer_queue.hpp"

namespace marquo {

class QueuedLoop : public EventLoop {
public:
  std::unique_ptr<EventTarget> CreateTarget(EventTarget::TimerHandler aTimerHandler) override;
  void Quit() override { FQuitRequested = true; }

  // The loop's clock; timer deadlines are taken on it.
  virtual LoopDuration Now() const = 0;

protected:
  bool HasPosted() const { return !FPosted.empty(); }
  // Runs the work that was posted before this call, in order; work posted
  // meanwhile waits for the next call. Returns whether anything ran.
  bool RunPosted();
  // Fires, in deadline order, the timers due at aNow that were armed before
  // this call. Returns whether any fired.
  bool FireDue(LoopDuration aNow);
  std::optional<LoopDuration> NextDeadline() const { return FTimers.NextDeadline(); }

  bool FQuitRequested = false;

private:
  class Target;
  friend class Target;
  struct Posted {
    TimerQueue::TargetId Target;
    std::uint64_t Sequence;
    EventTarget::Work Work;
  };

  TimerQueue FTimers;
  std::map<TimerQueue::TargetId, Target *> FTargets;
  std::deque<Posted> FPosted;
  TimerQueue::TargetId FLastTarget = 0;
  std::uint64_t FPostSequence = 0;
};

} // namespace marquo
