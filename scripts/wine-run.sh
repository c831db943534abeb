#!/bin/sh
# Runs a Windows executable under Wine with the project's private prefix.
# CMake uses this as the emulator of the Windows build, so ctest and the
# build's own steps start every .exe through it.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${MARQUO_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine asks to install Mono and Gecko when a prefix is first made; neither is
# needed, and in a test run nobody is there to answer.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine decodes the command line in the code page of the host's locale; a
# UTF-8 one keeps every argument as it was typed, whatever the machine's
# default.
export LC_ALL=C.UTF-8
# A caller that sends the output to a file of its own and watches it while
# the program runs (the broker tests) asks for the program to be run
# directly, with the caller's output.
if [ -n "${MARQUO_WINE_DIRECT:-}" ]; then
  exec wine "$@"
fi
# The first program of a Wine session starts its services (services.exe,
# winedevice.exe, ...), which inherit that program's output and live on with
# the session. Had they the caller's pipe, whoever reads it (ctest) would
# wait for them to end. So the program writes to a file of its own, which is
# passed on once it has ended.
output=$(mktemp) || exit 1
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1
status=$?
cat "$output"
exit $status
