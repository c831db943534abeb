#include "loop/timer_queue.hpp"

namespace marquo {

void TimerQueue::Arm(TargetId aTarget, unsigned aNumber, LoopDuration aDeadline) {
  Disarm(aTarget, aNumber);
  const Slot slot{aDeadline.count(), ++FSequence};
  FByKey.emplace(Key{aTarget, aNumber}, slot);
  FByDeadline.emplace(slot, Key{aTarget, aNumber});
}

void TimerQueue::Disarm(TargetId aTarget, unsigned aNumber) {
  const auto it = FByKey.find(Key{aTarget, aNumber});
  if (it == FByKey.end())
    return;
  FByDeadline.erase(it->second);
  FByKey.erase(it);
}

void TimerQueue::DisarmAll(TargetId aTarget) {
  auto it = FByKey.lower_bound(Key{aTarget, 0});
  while (it != FByKey.end() && it->first.first == aTarget) {
    FByDeadline.erase(it->second);
    it = FByKey.erase(it);
  }
}

bool TimerQueue::IsArmed(TargetId aTarget, unsigned aNumber) const {
  return FByKey.count(Key{aTarget, aNumber}) != 0;
}

std::optional<LoopDuration> TimerQueue::NextDeadline() const {
  if (FByDeadline.empty())
    return std::nullopt;
  return LoopDuration(FByDeadline.begin()->first.first);
}

std::optional<TimerQueue::Due> TimerQueue::PopDue(LoopDuration aNow, std::uint64_t aLastSequence) {
  for (auto it = FByDeadline.begin(); it != FByDeadline.end(); ++it) {
    if (it->first.first > aNow.count())
      break;
    if (it->first.second > aLastSequence)
      continue;
    const Key key = it->second;
    FByDeadline.erase(it);
    FByKey.erase(key);
    return Due{key.first, key.second};
  }
  return std::nullopt;
}

} // namespace marquo
