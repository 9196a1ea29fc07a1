#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test:
# the full build with the window tests, the core again under ASan+UBSan, and
# each fuzzer for a bounded time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

passed=0
failed=0

# Every test removes what it creates, also when it fails: each stage runs with
# a temporary folder of its own (so that other programs on the machine do not
# count), which must be empty when the stage ends.
scratch_parent="$(mktemp -d)"
trap 'rm -rf "$scratch_parent"' EXIT
with_own_tmpdir() {
  local stage="$1" tmp rc=0
  shift
  tmp="$scratch_parent/$stage"
  mkdir -p "$tmp"
  TMPDIR="$tmp" "$@" || rc=$?
  if [ -n "$(ls -A "$tmp")" ]; then
    echo "The $stage stage left files in its temporary folder $tmp:"
    find "$tmp" -mindepth 1 -maxdepth 3 | sed "s|^$tmp/|  |" | head -n 50
    failed=$((failed + 1))
    [ "$rc" -ne 0 ] || rc=1
  fi
  rm -rf "$tmp"
  return "$rc"
}

run_ctest() {
  local dir="$1" log
  log="$(mktemp)"
  local rc=0
  (cd "$dir" && with_own_tmpdir "$(basename "$dir")" ctest --output-on-failure --timeout 900) 2>&1 | tee "$log" || rc=$?
  local line
  line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)"
  if [ -n "$line" ]; then
    local f t
    f="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
    t="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")"
    passed=$((passed + t - f)); failed=$((failed + f))
  fi
  rm -f "$log"
  [ "$rc" -eq 0 ] || { echo "summary: $passed passed, $((failed > 0 ? failed : 1)) failed"; exit 1; }
}

echo "== full build and tests"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest build

echo "== core under AddressSanitizer + UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DKORVALIN_SANITIZE=ON \
  -DKORVALIN_BUILD_APP=OFF -DKORVALIN_BUILD_BENCH=OFF
run_ctest build-asan

echo "== fuzzers"
CC=clang CXX=clang++ bash scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVALIN_FUZZ=ON -DKORVALIN_BUILD_APP=OFF -DKORVALIN_BUILD_TESTS=OFF -DKORVALIN_BUILD_BENCH=OFF
if with_own_tmpdir fuzz bash scripts/fuzz.sh build-fuzz; then
  passed=$((passed + $(find build-fuzz/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | wc -l)))
else
  echo "summary: $passed passed, 1 failed"; exit 1
fi

echo "summary: $passed passed, $failed failed"
