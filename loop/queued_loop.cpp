#include "loop/queued_loop.hpp"

#include <algorithm>
#include <utility>

namespace marquo {

class QueuedLoop::Target final : public EventTarget {
public:
  Target(QueuedLoop &aLoop, TimerQueue::TargetId anId, TimerHandler aHandler)
      : FLoop(aLoop), FId(anId), FHandler(std::move(aHandler)) {
    FLoop.FTargets.emplace(FId, this);
  }

  ~Target() override {
    FLoop.FTimers.DisarmAll(FId);
    auto &posted = FLoop.FPosted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [this](const Posted &p) { return p.Target == FId; }),
                 posted.end());
    FLoop.FTargets.erase(FId);
  }

  void Arm(unsigned aNumber, LoopDuration anInterval) override {
    FLoop.FTimers.Arm(FId, aNumber, FLoop.Now() + std::max(anInterval, LoopDuration::zero()));
  }
  void Disarm(unsigned aNumber) override { FLoop.FTimers.Disarm(FId, aNumber); }
  bool IsArmed(unsigned aNumber) const override { return FLoop.FTimers.IsArmed(FId, aNumber); }
  void Post(Work aWork) override {
    FLoop.FPosted.push_back(Posted{FId, ++FLoop.FPostSequence, std::move(aWork)});
  }

  const TimerHandler &Handler() const { return FHandler; }

private:
  QueuedLoop &FLoop;
  const TimerQueue::TargetId FId;
  const TimerHandler FHandler;
};

std::unique_ptr<EventTarget> QueuedLoop::CreateTarget(EventTarget::TimerHandler aTimerHandler) {
  return std::make_unique<Target>(*this, ++FLastTarget, std::move(aTimerHandler));
}

bool QueuedLoop::RunPosted() {
  const std::uint64_t last = FPostSequence;
  bool ran = false;
  while (!FPosted.empty() && FPosted.front().Sequence <= last) {
    // Taken off the queue before it runs: the work may post more, or
    // destroy its own target, which edits the queue.
    EventTarget::Work work = std::move(FPosted.front().Work);
    FPosted.pop_front();
    ran = true;
    if (work)
      Guard(work);
  }
  return ran;
}

bool QueuedLoop::FireDue(LoopDuration aNow) {
  const std::uint64_t last = FTimers.LastSequence();
  bool fired = false;
  while (const auto due = FTimers.PopDue(aNow, last)) {
    const auto it = FTargets.find(due->Target);
    if (it == FTargets.end())
      continue;
    fired = true;
    // A copy, because the handler may destroy its own target.
    const EventTarget::TimerHandler handler = it->second->Handler();
    if (handler)
      Guard([&] { handler(due->Number); });
  }
  return fired;
}

} // namespace marquo
