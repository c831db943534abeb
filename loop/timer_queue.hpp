// The deadline bookkeeping shared by the POSIX loop and the fake loop.
//
// A TimerQueue holds armed one-shot timers, each identified by its target
// and its number, with an absolute deadline on the owner's clock. Re-arming
// replaces the old deadline; timers of equal deadline come out in the order
// they were armed (every arming takes a fresh sequence number).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "loop/event_loop.hpp"

namespace marquo {

class TimerQueue {
public:
  using TargetId = std::uint64_t;
  struct Due {
    TargetId Target;
    unsigned Number;
  };

  void Arm(TargetId aTarget, unsigned aNumber, LoopDuration aDeadline);
  void Disarm(TargetId aTarget, unsigned aNumber);
  void DisarmAll(TargetId aTarget);
  bool IsArmed(TargetId aTarget, unsigned aNumber) const;
  // The earliest deadline, if any timer is armed.
  std::optional<LoopDuration> NextDeadline() const;
  // The sequence number the next arming will be given minus one: timers
  // armed after this call have a larger one.
  std::uint64_t LastSequence() const { return FSequence; }
  // Removes and returns the earliest timer whose deadline is not after aNow
  // and which was armed no later than aLastSequence, so a handler that
  // re-arms its own timer with a zero interval cannot keep one dispatch
  // round going for ever.
  std::optional<Due> PopDue(LoopDuration aNow, std::uint64_t aLastSequence);

private:
  using Key = std::pair<TargetId, unsigned>;
  // Ordered by deadline, then arming sequence.
  using Slot = std::pair<LoopDuration::rep, std::uint64_t>;
  std::map<Key, Slot> FByKey;
  std::map<Slot, Key> FByDeadline;
  std::uint64_t FSequence = 0;
};

} // namespace marquo
