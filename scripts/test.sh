#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test suite: the native build,
# the same with AddressSanitizer and UndefinedBehaviorSanitizer, and the
# Windows build under Wine. Exits non-zero when any step fails and ends with
# the summary lines of each suite's CTest run.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

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
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
      "${missing[@]}" || { echo "== package installation failed"; exit 1; }
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
  "$root/scripts/wine-run.sh" wineboot -i >/dev/null 2>&1 || { echo "== wineboot failed"; exit 1; }
fi
WINEPREFIX="$MARQUO_WINEPREFIX" wineserver -p 2>/dev/null
trap 'WINEPREFIX="$MARQUO_WINEPREFIX" wineserver -k 2>/dev/null' EXIT

# ---- suites -----------------------------------------------------------------
failed=()
summaries=()      # the CTest summary lines, printed last
fuzz_summaries=()

run_suite() {
  local preset=$1
  shift
  local log="$root/build/$preset-ctest.log"
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >"$root/build/$preset-configure.log" 2>&1; then
    cat "$root/build/$preset-configure.log"
    failed+=("$preset (configure)")
    summaries+=("$preset: configure failed")
    return
  fi
  if ! cmake --build --preset "$preset" --parallel "$jobs"; then
    failed+=("$preset (build)")
    summaries+=("$preset: build failed")
    return
  fi
  echo "== $preset: tests"
  "$@" ctest --preset "$preset" --parallel "$jobs" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  ((status == 0)) || failed+=("$preset (tests)")
  while IFS= read -r line; do
    summaries+=("$preset: $line")
  done < <(grep -E 'tests passed|tests failed out of|Total Test time' "$log")
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
  echo "== fuzz: $target for $seconds s"
  if "$root/build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$root/build/fuzz/" "$corpus" >"$log" 2>&1; then
    fuzz_summaries+=("fuzz: $target $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" |
      tail -n 1)s, no crash, leak or hang")
  else
    tail -n 40 "$log"
    failed+=("fuzz ($target)")
    fuzz_summaries+=("fuzz: $target failed, see build/fuzz-$target.log")
  fi
}

run_fuzz() {
  echo "== fuzz: configure and build"
  if ! cmake --preset fuzz >"$root/build/fuzz-configure.log" 2>&1; then
    cat "$root/build/fuzz-configure.log"
    failed+=("fuzz (configure)")
    fuzz_summaries+=("fuzz: configure failed")
    return
  fi
  if ! cmake --build --preset fuzz --parallel "$jobs"; then
    failed+=("fuzz (build)")
    fuzz_summaries+=("fuzz: build failed")
    return
  fi
  fuzz_target mqtt_parser_fuzz mqtt_parser_corpus 60
  fuzz_target json_fuzz json_corpus 30
}
run_fuzz

echo
echo "== summary"
((${#failed[@]})) && echo "== FAILED: ${failed[*]}"
printf '%s\n' "${fuzz_summaries[@]}" "${summaries[@]}"
((${#failed[@]} == 0))
