#!/usr/bin/env python3
"""Times `korvalin-cli audio` against the length of the music it writes.

The whole command as a user runs it (start-up, SoundFont load, rendering and
encoding), best of RUNS, for each audio type; the aim is at most a fifth of
the audio's length. Figures, never assertions.

Usage: bench/audio_speed.py [BUILD_DIR] [RUNS]   (default: build, 3 runs)
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

root = pathlib.Path(__file__).resolve().parent.parent
build = root / (sys.argv[1] if len(sys.argv) > 1 else "build")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
corpus = root.parent / "shared" / "corpus" / "midi"
files = ["music21-testPrimitive/test02.mid", "tonejs-midi/tchaikovsky_seasons.mid",
         "tonejs-midi/bartok/concerto_for_orchestra_1.mid"]
if not corpus.is_dir():
    print(f"no corpus at {corpus}")
    sys.exit(77)

print(f"{'file':<48} {'type':>4} {'audio s':>8} {'command s':>10} {'ratio':>6}")
with tempfile.TemporaryDirectory(prefix="korvalin-audio-bench.") as work:
    for name in files:
        source = corpus / name
        if not source.is_file():
            print(f"missing: {name}")
            continue
        for kind in ("wav", "flac", "ogg"):
            out = os.path.join(work, "out." + kind)
            best = None
            for _ in range(runs):
                start = time.perf_counter()
                subprocess.run([str(build / "cli" / "korvalin-cli"), "audio", str(source), out],
                               check=True, stdout=subprocess.DEVNULL)
                took = time.perf_counter() - start
                best = took if best is None else min(best, took)
            seconds = float(subprocess.run(["soxi", "-D", out], check=True, capture_output=True,
                                           text=True).stdout)
            print(f"{name:<48} {kind:>4} {seconds:8.2f} {best:10.3f} {best / seconds:6.3f}")
            os.remove(out)
print("(ratio: the command's wall time over the audio's length; the aim is 0.200 or less)")
