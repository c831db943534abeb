#include <windows.h>

#include <atomic>

#include "tools/probe_stop.hpp"

namespace marquo {
namespace {

// The console's control handler runs on a thread of its own.
std::atomic<bool> gStopSignalled{false};

BOOL WINAPI OnConsoleControl(DWORD aType) {
  switch (aType) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
  case CTRL_CLOSE_EVENT:
    gStopSignalled = true;
    // Handled: the process is not ended here; the probe ends itself once it
    // has said goodbye to the broker.
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool StopSignalled() { return gStopSignalled; }

} // namespace marquo
