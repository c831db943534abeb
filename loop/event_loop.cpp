#include "loop/event_loop.hpp"

#include <exception>

namespace marquo {

void EventLoop::Guard(const std::function<void()> &aWork) noexcept {
  std::string what;
  try {
    aWork();
    return;
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
