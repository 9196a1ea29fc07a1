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
skipped=0
skip_notes=""  # what was skipped and why, stage by stage

# The closing line that CI reads: "N passed, N failed" alone, then the skips.
summary() {
  [ -z "$skip_notes" ] || printf 'skipped tests:\n%s' "$skip_notes"
  echo "summary: $passed passed, $1 failed, $skipped skipped"
}

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

# ctest counts a skipped test (GTEST_SKIP) among those that passed; it lists
# it under "The following tests did not run" and its JUnit file keeps the
# skip message.
run_ctest() {
  local dir="$1" log junit rc=0
  log="$(mktemp)"
  junit="$(mktemp)"
  (cd "$dir" && with_own_tmpdir "$(basename "$dir")" \
    ctest --output-on-failure --timeout 900 --output-junit "$junit") 2>&1 | tee "$log" || rc=$?
  local line
  line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)"
  if [ -n "$line" ]; then
    local f t s
    f="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
    t="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")"
    s="$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)"
    passed=$((passed + t - f - s)); failed=$((failed + f)); skipped=$((skipped + s))
    if [ "$s" -gt 0 ]; then
      local notes
      notes="$(python3 "$root/scripts/skipped-tests.py" "$junit" | tail -n +2 || true)"
      skip_notes+="  in $(basename "$dir"):"$'\n'"${notes:-    (no reasons: the JUnit file was not readable)}"$'\n'
    fi
  fi
  rm -f "$log" "$junit"
  [ "$rc" -eq 0 ] || { summary "$((failed > 0 ? failed : 1))"; exit 1; }
}

# A check that is not a ctest or a fuzzer: it counts as one test, and a
# failure is reported but does not stop the stages after it.
run_check() {
  local name="$1"
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "$name: FAILED"; fi
}

run_check "format" bash scripts/check-format.sh

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
# The fuzz tree is a clang build, so clang-tidy reads its compile database as is.
run_check "clang-tidy" bash scripts/tidy.sh build-fuzz

if with_own_tmpdir fuzz bash scripts/fuzz.sh build-fuzz; then
  passed=$((passed + $(find build-fuzz/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | wc -l)))
else
  summary "$((failed + 1))"; exit 1
fi

summary "$failed"
[ "$failed" -eq 0 ]
