// How a long-running probe command learns that the user wants it to end:
// SIGINT or SIGTERM on POSIX, Ctrl+C, Ctrl+Break or the console closing on
// Windows. The signal only sets a flag; the command looks at it from its
// own loop, so nothing runs inside a signal handler but that store.
#pragma once

namespace marquo {

// Starts catching the stop signals; later calls do nothing more.
void CatchStopSignals();
// Whether a stop signal has arrived since CatchStopSignals.
bool StopSignalled();

} // namespace marquo
