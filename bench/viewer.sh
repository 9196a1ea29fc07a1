#!/usr/bin/env bash
# Times the score viewer and the printed pages in the real web engine, the
# figures by which the piece-by-piece viewer is judged (never assertions):
#   1. Show score to the first piece drawn, for every file of the corpus;
#   2. the whole Tchaikovsky drawn in pieces, and drawn at once as the viewer
#      did before (the reference), in the same run;
#   3. `korvalin-cli render --measures 1-8` of the Bartok concerto against
#      rendering music21-testPrimitive/test02.mid whole.
# Usage: bench/viewer.sh [BUILD_DIR]   (default: build; needs xvfb-run)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/${1:-build}"
corpus="$root/../shared/corpus/midi"
[ -d "$corpus" ] || { echo "no corpus at $corpus"; exit 77; }
work="$(mktemp -d /tmp/korvalin-viewer-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu QT_QPA_PLATFORM=xcb
quiet() { grep -v -E '^ |^$|XDG_RUNTIME|Sandboxing|qt.webenginecontext|GL Type|Surface|QSG|Using|Init Param|No suitable' >&2 || true; }

echo "== Show score to the first piece drawn, every corpus file"
find "$corpus" -type f \( -iname '*.mid' -o -iname '*.midi' \) | sort > "$work/files"
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bench/bench_viewer" $(cat "$work/files") \
  > "$work/first.json" 2> >(quiet)
python3 - "$work/first.json" <<'PY'
import json, sys, statistics
every = [json.loads(line) for line in open(sys.argv[1]) if line.startswith('{')]
for r in every:
    if 'skipped' in r or 'error' in r:
        print(f"  {r.get('skipped') or 'page error: ' + r['error']}: {r['file'].split('/midi/')[-1]}")
rows = [r for r in every if 'first_piece_ms' in r]
times = [r['first_piece_ms'] for r in rows if r['first_piece_ms'] >= 0]
missed = [r['file'] for r in rows if r['first_piece_ms'] < 0]
print(f"files: {len(rows)}, drawn: {len(times)}, none drawn: {len(missed)}")
if times:
    print(f"first piece: median {statistics.median(times):.0f} ms, max {max(times)} ms")
for r in sorted(rows, key=lambda r: -r['first_piece_ms'])[:5]:
    print(f"  {r['first_piece_ms']:>6} ms  {r['file'].split('/midi/')[-1]}")
over = [r for r in rows if r['first_piece_ms'] > 2000]
print(f"over 2 s: {len(over)}")
for name in missed: print(f"  not drawn: {name}")
PY

echo "== Tchaikovsky whole: in pieces, and at once as before"
tchaikovsky="$corpus/tonejs-midi/tchaikovsky_seasons.mid"
"$build/cli/korvalin-cli" convert "$tchaikovsky" "$work/tchaikovsky.musicxml"
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bench/bench_viewer" --whole \
  "$tchaikovsky" "$work/tchaikovsky.musicxml" "$tchaikovsky" "$work/tchaikovsky.musicxml" 2> >(quiet)

echo "== render --measures 1-8 of the Bartok against test02 whole"
bartok="$corpus/tonejs-midi/bartok/concerto_for_orchestra_1.mid"
test02="$corpus/music21-testPrimitive/test02.mid"
unset QT_QPA_PLATFORM
for round in 1 2 3; do
  small=$( { /usr/bin/time -f '%e' "$build/cli/korvalin-cli" render "$test02" "$work/test02.pdf" 2>&1 >/dev/null | tail -n 1; } )
  large=$( { /usr/bin/time -f '%e' "$build/cli/korvalin-cli" render "$bartok" "$work/bartok.pdf" --measures 1-8 2>&1 >/dev/null | tail -n 1; } )
  python3 -c "print(f'round $round: test02 {float(\"$small\"):.2f} s, Bartok 1-8 {float(\"$large\"):.2f} s, ratio {float(\"$large\")/float(\"$small\"):.2f}')"
done
