// The single-threaded event loop the whole program runs on.
//
// Everything happens on the thread that created the loop: timer handlers,
// posted work and socket notifications run one at a time, each to
// completion, in the order the loop dispatches them. Nothing here is
// thread-safe and nothing needs to be.
//
// Work reaches the loop through an EventTarget, the counterpart of a hidden
// window: it owns a set of numbered one-shot timers and can post work to
// itself. Destroying a target disarms its timers and drops the work it
// posted that has not run yet, so a handler never runs for an object that is
// gone.
//
// Timers. Arm(n, interval) starts timer n; arming a timer that is already
// armed restarts it with the new interval. When a timer fires it is disarmed
// first and then its handler is called with its number, so each arming fires
// at most once; the handler may arm it again. Timers of equal deadline fire
// in the order they were armed (on the POSIX and the fake loop; the Windows
// loop leaves that order to the system's timer messages).
//
// Exceptions. No exception escapes into the loop: every timer handler and
// every piece of posted work runs inside a guard that catches everything and
// hands a description to OnUnhandledException when it is assigned.
//
// Implementations: the platform's real loop from CreateEventLoop() (on
// Windows the thread's message loop with message-only windows; on POSIX a
// poll() loop), and FakeEventLoop (fake_event_loop.hpp) with a virtual clock
// for tests.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace marquo {

using LoopDuration = std::chrono::milliseconds;

class EventTarget {
public:
  using TimerHandler = std::function<void(unsigned aNumber)>;
  using Work = std::function<void()>;

  virtual ~EventTarget() = default;
  EventTarget() = default;
  EventTarget(const EventTarget &) = delete;
  EventTarget &operator=(const EventTarget &) = delete;

  // Starts, or restarts, timer aNumber; it fires once, anInterval from now.
  // A negative interval counts as zero.
  virtual void Arm(unsigned aNumber, LoopDuration anInterval) = 0;
  // Stops timer aNumber; disarming a timer that is not armed does nothing.
  virtual void Disarm(unsigned aNumber) = 0;
  virtual bool IsArmed(unsigned aNumber) const = 0;
  // Queues aWork to run when the loop next dispatches; never runs it from
  // inside this call. Posted work runs in the order it was posted.
  virtual void Post(Work aWork) = 0;
};

class EventLoop {
public:
  virtual ~EventLoop() = default;
  EventLoop() = default;
  EventLoop(const EventLoop &) = delete;
  EventLoop &operator=(const EventLoop &) = delete;

  // A new target whose timers call aTimerHandler. The target must not
  // outlive the loop.
  virtual std::unique_ptr<EventTarget> CreateTarget(EventTarget::TimerHandler aTimerHandler) = 0;

  // Dispatches until Quit is called (from a handler). A Quit made before
  // Run makes Run return at once.
  virtual void Run() = 0;
  virtual void Quit() = 0;

  // Dispatches until aDone returns true or anInterval has passed on the
  // loop's clock; returns the last answer of aDone. aDone is asked before
  // the first dispatch and after every one. This is how tests drive a loop.
  virtual bool RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) = 0;

  // Told about every exception that a handler let escape (its what() text,
  // or "unknown exception"); the exception itself is discarded.
  std::function<void(const std::string &aWhat)> OnUnhandledException;

  // Runs aWork, containing every exception as described above. The loops
  // call every handler through this; platform code that calls handlers from
  // its own window procedures or poll callbacks uses it too.
  void Guard(const std::function<void()> &aWork) noexcept;
  // Tells OnUnhandledException about anException, as Guard does for what it
  // catches. For code that must catch an exception itself (to go on with its
  // own work) but may not let it pass unreported.
  void Report(std::exception_ptr anException) noexcept;
};

// The platform's real loop for the calling thread.
std::unique_ptr<EventLoop> CreateEventLoop();

} // namespace marquo
