#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test suite: the native build,
# the same with AddressSanitizer and UndefinedBehaviorSanitizer, and the
# Windows build under Wine. Exits non-zero when any step fails and ends with
# the summary lines of each suite's CTest run.
#
# Every step runs under a time limit, so a hang (an apt mirror that stops
# answering, a Wine process that never exits) fails that step, named in the
# summary, instead of stalling the run for ever. The limits are generous: a
# step that meets one is stuck, not slow.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

apt_limit=20m
wineboot_limit=5m
wineserver_limit=1m
configure_limit=10m
build_limit=20m
ctest_limit=20m
# CTest's default for a test without a TIMEOUT property is ten million
# seconds; every test the project registers sets its own, and this catches
# any that does not.
ctest_test_timeout=900

failed=()

# bounded LIMIT COMMAND...: runs COMMAND, ended with TERM once LIMIT has
# passed and with KILL 30 s later if it is still there. timeout runs it in a
# process group of its own and signals the whole group, so the programs it
# started (ctest's tests, Wine's services) end with it.
#
# That group is out of reach of the terminal's Ctrl-C, and the shell would
# not run a trap before the step ended, so the step runs in the background
# while the shell waits for it, which an interrupt does cut short; the trap
# then ends the step's group. The trap is set here, not once at the top,
# because a step in a pipeline runs in a subshell, which starts without the
# script's traps.
step_pid=
on_interrupt() {
  [ -z "$step_pid" ] || kill -TERM -- "-$step_pid" "$step_pid" 2>/dev/null
  exit 130
}
bounded() {
  local limit=$1 status
  shift
  trap on_interrupt INT TERM
  timeout --kill-after=30s "$limit" "$@" <&0 &
  step_pid=$!
  wait "$step_pid"
  status=$?
  step_pid=
  return "$status"
}

# bounded_tty LIMIT COMMAND...: the same for a command that may have to ask
# at the terminal (sudo, for a password). It stays in the terminal's process
# group, where it may read; only COMMAND itself is signalled.
bounded_tty() {
  local limit=$1
  shift
  timeout --foreground --kill-after=30s "$limit" "$@"
}

# outcome STATUS LIMIT: how a bounded step that ended with STATUS is named in
# the failure list. timeout exits with 124 when the limit ended the step, and
# with 137 when the step had to be killed after it (or was killed otherwise,
# say for want of memory).
outcome() {
  case $1 in
  124) echo "timed out after $2" ;;
  137) echo "killed: timed out after $2, or out of memory" ;;
  *) echo "failed" ;;
  esac
}

# ---- packages ---------------------------------------------------------------
packages=(
  cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
  mosquitto mosquitto-clients pkg-config libpulse-dev pulseaudio pulseaudio-utils
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth
  clang libclang-rt-14-dev
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
# What installs the missing packages by hand, for when this script cannot.
install_hint() {
  echo "== as root, install them with:"
  echo "   apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
}
if ((${#missing[@]})); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "== missing packages: ${missing[*]}"
      echo "== not root and no sudo, so they cannot be installed from here"
      install_hint
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "== installing: ${missing[*]}"
  bounded_tty "$apt_limit" "${sudo[@]}" apt-get update -q
  status=$?
  if ((status != 0)); then
    echo "== apt-get update $(outcome "$status" "$apt_limit")"
    install_hint
    exit 1
  fi
  # Set through env, after sudo, which would drop it from the environment.
  bounded_tty "$apt_limit" "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
  status=$?
  if ((status != 0)); then
    echo "== package installation $(outcome "$status" "$apt_limit")"
    install_hint
    exit 1
  fi
fi

# ---- Wine -------------------------------------------------------------------
# A private prefix, made once, so the tests never touch the user's own Wine
# set-up. A persistent wineserver saves a second or so on every test.
# Wine programs start through scripts/wine-run.sh, which sets up their
# environment; the wineserver needs only the prefix.
export MARQUO_WINEPREFIX="$root/build/wineprefix"
mkdir -p "$root/build"
if [ ! -f "$MARQUO_WINEPREFIX/system.reg" ]; then
  echo "== initialising the Wine prefix"
  bounded "$wineboot_limit" "$root/scripts/wine-run.sh" wineboot -i >/dev/null 2>&1
  status=$?
  if ((status != 0)); then
    echo "== wineboot $(outcome "$status" "$wineboot_limit")"
    exit 1
  fi
fi
# The persistent server is only a saving: the tests start one themselves
# when it is not there, so only a hang here is worth a line in the summary.
bounded "$wineserver_limit" env WINEPREFIX="$MARQUO_WINEPREFIX" wineserver -p 2>/dev/null
status=$?
((status == 124 || status == 137)) &&
  failed+=("wineserver -p ($(outcome "$status" "$wineserver_limit"))")
trap 'bounded "$wineserver_limit" env WINEPREFIX="$MARQUO_WINEPREFIX" wineserver -k 2>/dev/null' EXIT

# ---- suites -----------------------------------------------------------------
summaries=()      # the CTest summary lines, printed last
fuzz_summaries=()

run_suite() {
  local preset=$1
  shift
  local log="$root/build/$preset-ctest.log"
  local status
  echo "== $preset: configure and build"
  bounded "$configure_limit" cmake --preset "$preset" >"$root/build/$preset-configure.log" 2>&1
  status=$?
  if ((status != 0)); then
    cat "$root/build/$preset-configure.log"
    failed+=("$preset (configure $(outcome "$status" "$configure_limit"))")
    summaries+=("$preset: configure $(outcome "$status" "$configure_limit")")
    return
  fi
  bounded "$build_limit" cmake --build --preset "$preset" --parallel "$jobs"
  status=$?
  if ((status != 0)); then
    failed+=("$preset (build $(outcome "$status" "$build_limit"))")
    summaries+=("$preset: build $(outcome "$status" "$build_limit")")
    return
  fi
  echo "== $preset: tests"
  bounded "$ctest_limit" "$@" ctest --preset "$preset" --parallel "$jobs" \
    --timeout "$ctest_test_timeout" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  if ((status != 0)); then
    failed+=("$preset (tests $(outcome "$status" "$ctest_limit"))")
    ((status == 124 || status == 137)) &&
      summaries+=("$preset: tests $(outcome "$status" "$ctest_limit")")
  fi
  while IFS= read -r line; do
    summaries+=("$preset: $line")
  done < <(grep -E 'tests passed|tests failed out of|Total Test time' "$log")
  # A skipped test passes as far as the counts go, so it is named: CTest
  # lists it as "  N - NAME (Skipped)" under "The following tests did not
  # run:".
  local skipped
  skipped=$(sed -nE 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)[[:space:]]*$/\1/p' "$log" |
    sort -u | paste -sd, - | sed 's/,/, /g')
  [ -z "$skipped" ] || summaries+=("$preset: skipped: $skipped")
}

run_suite posix
run_suite posix-asan
# Windows tests may create windows, so the suite runs inside one X server.
run_suite windows xvfb-run -a

# The two parsers that read bytes from the network, under libFuzzer for a
# bounded time each, from copies of their seed corpora, so a run never adds
# files to the repository. A crash, a leak, a sanitizer report, a broken
# invariant or one input running over 10 s fails the step.
fuzz_target() {
  local target=$1 corpus_name=$2 seconds=$3
  local log="$root/build/fuzz-$target.log"
  local corpus="$root/build/fuzz/$corpus_name"
  rm -rf "$corpus" && cp -r "$root/fuzz/$corpus_name" "$corpus"
  # libFuzzer stops itself after max_total_time; the outer limit, five
  # minutes more, catches a run that does not.
  local limit=$((seconds + 300))s status
  echo "== fuzz: $target for $seconds s"
  bounded "$limit" "$root/build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$root/build/fuzz/" "$corpus" >"$log" 2>&1
  status=$?
  if ((status == 0)); then
    fuzz_summaries+=("fuzz: $target $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" |
      tail -n 1)s, no crash, leak or hang")
  else
    tail -n 40 "$log"
    failed+=("fuzz ($target $(outcome "$status" "$limit"))")
    fuzz_summaries+=("fuzz: $target $(outcome "$status" "$limit"), see build/fuzz-$target.log")
  fi
}

run_fuzz() {
  local status
  echo "== fuzz: configure and build"
  bounded "$configure_limit" cmake --preset fuzz >"$root/build/fuzz-configure.log" 2>&1
  status=$?
  if ((status != 0)); then
    cat "$root/build/fuzz-configure.log"
    failed+=("fuzz (configure $(outcome "$status" "$configure_limit"))")
    fuzz_summaries+=("fuzz: configure $(outcome "$status" "$configure_limit")")
    return
  fi
  bounded "$build_limit" cmake --build --preset fuzz --parallel "$jobs"
  status=$?
  if ((status != 0)); then
    failed+=("fuzz (build $(outcome "$status" "$build_limit"))")
    fuzz_summaries+=("fuzz: build $(outcome "$status" "$build_limit")")
    return
  fi
  fuzz_target mqtt_parser_fuzz mqtt_parser_corpus 60
  fuzz_target json_fuzz json_corpus 30
}
run_fuzz

echo
echo "== summary"
((${#failed[@]})) && printf '== FAILED: %s\n' "${failed[@]}"
printf '%s\n' "${fuzz_summaries[@]}" "${summaries[@]}"
((${#failed[@]} == 0))
