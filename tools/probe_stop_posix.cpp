#include <csignal>

#include "tools/probe_stop.hpp"

namespace marquo {
namespace {

volatile std::sig_atomic_t gStopSignalled = 0;

extern "C" void OnStopSignal(int) { gStopSignalled = 1; }

} // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the poll() the loop waits in returns at once, so the
  // signal is seen without waiting for the next timer.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() { return gStopSignalled != 0; }

} // namespace marquo
