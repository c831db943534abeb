// The POSIX event loop: poll() over the watched file descriptors, with the
// timers and posted work of QueuedLoop on the monotonic clock. The poll
// timeout comes from the nearest deadline, and is zero while posted work is
// waiting.
//
// One round of the loop runs the posted work queued before it, fires the
// timers due, waits in poll() and then calls the handler of every watch
// that reported something. Handlers may add, change and remove watches
// (their own included); a watch removed during a round is not called later
// in that round.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "loop/queued_loop.hpp"

namespace marquo {

class PollEventLoop final : public QueuedLoop {
public:
  using WatchId = std::uint64_t;
  // Called with the poll() result bits (POLLIN, POLLOUT, POLLERR, POLLHUP).
  using WatchHandler = std::function<void(short aRevents)>;

  LoopDuration Now() const override;
  void Run() override;
  bool RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) override;

  // Watches aFd for anEvents (POLLIN, POLLOUT; POLLERR and POLLHUP are
  // always reported). The descriptor stays the caller's.
  WatchId Watch(int aFd, short anEvents, WatchHandler aHandler);
  void Modify(WatchId anId, short anEvents);
  void Unwatch(WatchId anId);

private:
  struct WatchEntry {
    int Fd;
    short Events;
    WatchHandler Handler;
  };
  // One round; waits at most aMaxWait (negative: without limit).
  void Iterate(LoopDuration aMaxWait);

  std::map<WatchId, WatchEntry> FWatches;
  WatchId FLastWatch = 0;
};

} // namespace marquo
