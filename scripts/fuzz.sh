#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build: first each larger corpus file once as a
# regression check, then mutation for a bounded time from small seeds (the
# generated ones and the corpus files that fit), with the MIDI dictionary.
# Usage: fuzz.sh BUILD_DIR [SECONDS_PER_FUZZER]
# KORVALIN_FUZZERS="fuzz_load fuzz_export" runs only those.
# A long campaign: bash scripts/fuzz.sh build-fuzz 3600
# The corpus each fuzzer grows is kept in BUILD_DIR/fuzz-corpus/<name>, so a
# later campaign goes on from it; findings go to BUILD_DIR/crashes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$root" && cd "$1" && pwd)"
seconds="${2:-${KORVALIN_FUZZ_SECONDS:-60}}"
# Mutating files of hundreds of kilobytes costs most of the time in copying
# them; the formats' structures all show in a few kilobytes.
max_len="${KORVALIN_FUZZ_MAX_LEN:-8192}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/seeds" "$work/regression"
python3 "$root/fuzz/make_seeds.py" "$work/seeds"
if [ -d "$root/../shared/corpus/midi" ]; then
  while IFS= read -r -d '' file; do
    if [ "$(stat -c %s "$file")" -le "$max_len" ]; then dest="$work/seeds"; else dest="$work/regression"; fi
    cp --backup=numbered -t "$dest" "$file"  # the corpus repeats some file names
  done < <(find "$root/../shared/corpus/midi" -type f \( -iname '*.mid' -o -iname '*.midi' -o -iname '*.kar' \) -print0)
fi

# One line of figures from a run's final statistics.
figures() {
  awk -F': *' '/^stat::number_of_executed_units/ {runs=$NF}
               /^stat::average_exec_per_sec/ {rate=$NF}
               /^stat::new_units_added/ {added=$NF}
               /cov: [0-9]+/ {match($0, /cov: [0-9]+/); cov=substr($0, RSTART + 5, RLENGTH - 5)}
               END {printf "%s inputs, %s/s, coverage %s, %s new inputs", runs, rate, cov, added}' "$1"
}

status=0
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] && [ -f "$fuzzer" ] || continue
  name="$(basename "$fuzzer")"
  if [ -n "${KORVALIN_FUZZERS:-}" ] && [[ " $KORVALIN_FUZZERS " != *" $name "* ]]; then continue; fi
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  failed=""
  if [ -n "$(ls -A "$work/regression")" ] && ! "$fuzzer" -runs=0 -rss_limit_mb=2048 -timeout=60 \
      -artifact_prefix="$work/$name-" "$work/regression" >"$work/$name-regression.log" 2>&1; then
    failed="$work/$name-regression.log"
  elif ! "$fuzzer" -max_len="$max_len" -dict="$root/fuzz/midi.dict" -max_total_time="$seconds" \
      -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$work/$name-" \
      "$corpus" "$work/seeds" >"$work/$name.log" 2>&1; then
    failed="$work/$name.log"
  fi
  if [ -n "$failed" ]; then
    echo "-- $name FAILED"
    tail -n 60 "$failed"
    mkdir -p "$build/crashes"
    cp "$work/$name-"{crash,leak,timeout,oom,slow-unit}-* "$build/crashes/" 2>/dev/null || true
    status=1
  else
    echo "-- $name: $(ls "$work/regression" | wc -l) large files replayed; ${seconds}s: $(figures "$work/$name.log")"
  fi
done
exit $status
