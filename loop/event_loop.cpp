#include "loop/event_loop.hpp"

#include <exception>

namespace marquo {

void EventLoop::Guard(const std::function<void()> &aWork) noexcept {
  try {
    aWork();
  } catch (...) {
    Report(std::current_exception());
  }
}

void EventLoop::Report(std::exception_ptr anException) noexcept {
  if (!anException)
    return;
  std::string what;
  try {
    std::rethrow_exception(anException);
  } catch (const std::exception &e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  if (!OnUnhandledException)
    return;
  try {
    OnUnhandledException(what);
  } catch (...) {
    // The reporter itself failed; there is nobody left to tell.
  }
}

} // namespace marquo
