#!/usr/bin/env python3
"""Times whole korvalin-cli commands over a folder of MIDI files (by default the
public corpus):

  batch, --jobs 1      convert --out-dir DIR --recursive --jobs 1 FOLDER
  batch, --jobs 2      the same with --jobs 2
  single calls         one `convert IN OUT` process per file, start-up included

Each is run --runs times (default 5), in turns; the median counts. Prints the medians and
the two ratios: jobs 2 / jobs 1, and batch (--jobs 1) / single calls.

  python3 bench/batch_speed.py [--cli build/cli/korvalin-cli] [--runs 5] [FOLDER]

The outputs go to a temporary folder (TMPDIR): on a disk every score is
flushed (fsync) before it replaces its target, so waiting for the disk counts;
TMPDIR=/dev/shm times the work alone.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def midi_files(folder):
    found = []
    for here, _, names in os.walk(folder):
        for name in names:
            if name.lower().endswith((".mid", ".midi")):
                found.append(os.path.join(here, name))
    return sorted(found)


def timed(actions, runs, scratch):
    """The seconds of each action, run in turns (one of each per round) so
    that a machine busy with other work weighs on all of them alike."""
    seconds = [[] for _ in actions]
    for _ in range(runs):
        for action, times in zip(actions, seconds):
            shutil.rmtree(scratch, ignore_errors=True)
            os.makedirs(scratch)
            start = time.perf_counter()
            action(scratch)
            times.append(time.perf_counter() - start)
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "cli", "korvalin-cli"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("folder", nargs="?", default=os.path.join(ROOT, "..", "shared", "corpus", "midi"))
    args = parser.parse_args()
    if not os.path.isdir(args.folder):
        sys.exit(f"no folder {args.folder}")
    files = midi_files(args.folder)

    def batch(jobs):
        def run(scratch):
            subprocess.run([args.cli, "convert", "--out-dir", scratch, "--recursive", "--jobs", str(jobs),
                            args.folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        return run

    def singles(scratch):
        for path in files:
            out = os.path.join(scratch, os.path.splitext(os.path.relpath(path, args.folder))[0] + ".musicxml")
            os.makedirs(os.path.dirname(out), exist_ok=True)
            subprocess.run([args.cli, "convert", path, out], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)

    with tempfile.TemporaryDirectory(prefix="korvalin-bench-") as work:
        scratch = os.path.join(work, "out")
        one_all, two_all, single_all = timed([batch(1), batch(2), singles], args.runs, scratch)
    one, two, single = (statistics.median(times) for times in (one_all, two_all, single_all))

    print(f"{len(files)} files in {args.folder}, {os.cpu_count()} cores, median of {args.runs} runs")
    for name, median, all_runs in (("batch --jobs 1", one, one_all), ("batch --jobs 2", two, two_all),
                                   ("single calls", single, single_all)):
        runs = ", ".join(f"{s:.3f}" for s in all_runs)
        print(f"  {name:15} {median:8.3f} s   ({runs})")
    print(f"  jobs 2 / jobs 1:        {two / one:.2f}  (target at most 0.60)")
    print(f"  batch / single calls:   {one / single:.2f}  (target at most 1.10)")


if __name__ == "__main__":
    main()
