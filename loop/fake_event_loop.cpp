#include "loop/fake_event_loop.hpp"

#include <algorithm>

namespace marquo {

void FakeEventLoop::RunPending() {
  while (RunPosted()) {
  }
}

void FakeEventLoop::Advance(LoopDuration anInterval) {
  RunUntil([] { return false; }, anInterval);
}

void FakeEventLoop::Run() {
  while (!FQuitRequested) {
    RunPending();
    if (FQuitRequested)
      break;
    const auto next = NextDeadline();
    if (!next)
      break;
    FNow = std::max(FNow, *next);
    FireDue(FNow);
  }
  FQuitRequested = false;
}

bool FakeEventLoop::RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) {
  const LoopDuration end = FNow + std::max(anInterval, LoopDuration::zero());
  for (;;) {
    if (aDone())
      return true;
    if (RunPosted())
      continue;
    const auto next = NextDeadline();
    if (!next || *next > end)
      break;
    FNow = std::max(FNow, *next);
    FireDue(FNow);
  }
  FNow = end;
  return aDone();
}

} // namespace marquo
