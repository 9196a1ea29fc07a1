#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build for a bounded time over a seed corpus made
# here: the generated seeds of fuzz/seeds.sh plus the public corpus when present.
# Usage: fuzz.sh BUILD_DIR [SECONDS_PER_FUZZER]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/$1"
seconds="${2:-${KORVALIN_FUZZ_SECONDS:-60}}"
work="$(mktemp -d /tmp/korvalin-fuzz.XXXXXX)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/seeds"
python3 "$root/fuzz/make_seeds.py" "$work/seeds"
if [ -d "$root/../shared/corpus/midi" ]; then
  find "$root/../shared/corpus/midi" -type f \( -iname '*.mid' -o -iname '*.midi' -o -iname '*.kar' \) \
    -exec cp --backup=numbered -t "$work/seeds" {} +  # the corpus repeats some file names
fi

status=0
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] && [ -f "$fuzzer" ] || continue
  name="$(basename "$fuzzer")"
  mkdir -p "$work/$name"
  echo "-- $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
      -artifact_prefix="$work/$name-" "$work/$name" "$work/seeds" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    mkdir -p "$root/build-fuzz/crashes"
    cp "$work/$name-"* "$root/build-fuzz/crashes/" 2>/dev/null || true
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$work/$name.log" | tail -n 1 || tail -n 2 "$work/$name.log"
  fi
done
exit $status
