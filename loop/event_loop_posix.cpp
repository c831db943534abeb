#include "loop/event_loop_posix.hpp"

#include <algorithm>
#include <poll.h>
#include <vector>

namespace marquo {

std::unique_ptr<EventLoop> CreateEventLoop() { return std::make_unique<PollEventLoop>(); }

LoopDuration PollEventLoop::Now() const {
  return std::chrono::duration_cast<LoopDuration>(
      std::chrono::steady_clock::now().time_since_epoch());
}

PollEventLoop::WatchId PollEventLoop::Watch(int aFd, short anEvents, WatchHandler aHandler) {
  const WatchId id = ++FLastWatch;
  FWatches.emplace(id, WatchEntry{aFd, anEvents, std::move(aHandler)});
  return id;
}

void PollEventLoop::Modify(WatchId anId, short anEvents) {
  const auto it = FWatches.find(anId);
  if (it != FWatches.end())
    it->second.Events = anEvents;
}

void PollEventLoop::Unwatch(WatchId anId) { FWatches.erase(anId); }

void PollEventLoop::Iterate(LoopDuration aMaxWait) {
  bool dispatched = RunPosted();
  dispatched = FireDue(Now()) || dispatched;

  // After a dispatch the caller looks at its condition before anything
  // waits; poll() then only collects what is ready already.
  LoopDuration wait = aMaxWait;
  if (dispatched || HasPosted() || FQuitRequested) {
    wait = LoopDuration::zero();
  } else if (const auto next = NextDeadline()) {
    const LoopDuration untilNext = std::max(*next - Now(), LoopDuration::zero());
    if (wait < LoopDuration::zero() || untilNext < wait)
      wait = untilNext;
  }

  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.reserve(FWatches.size());
  ids.reserve(FWatches.size());
  for (const auto &[id, watch] : FWatches) {
    fds.push_back(pollfd{watch.Fd, watch.Events, 0});
    ids.push_back(id);
  }
  const int timeout = wait < LoopDuration::zero() ? -1 : static_cast<int>(wait.count());
  const int ready = ::poll(fds.data(), fds.size(), timeout);
  if (ready <= 0)
    return; // a timeout, or EINTR: the next round looks again
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0)
      continue;
    const auto it = FWatches.find(ids[i]);
    if (it == FWatches.end())
      continue;
    // A copy, because the handler may remove its own watch.
    const WatchHandler handler = it->second.Handler;
    const short revents = fds[i].revents;
    if (handler)
      Guard([&] { handler(revents); });
  }
}

void PollEventLoop::Run() {
  while (!FQuitRequested)
    Iterate(LoopDuration(-1));
  FQuitRequested = false;
}

bool PollEventLoop::RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) {
  const LoopDuration end = Now() + anInterval;
  while (!aDone()) {
    const LoopDuration now = Now();
    if (now >= end)
      return aDone();
    Iterate(end - now);
  }
  return true;
}

} // namespace marquo
