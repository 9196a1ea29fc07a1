#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the core (midi/ and
# score/, their headers included), using a build tree's compile database.
# Exits non-zero and shows the findings when any check fails.
# Usage: tidy.sh BUILD_DIR   (any build type; a clang build avoids GCC-only flags)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$1" && pwd)"
[ -f "$build/compile_commands.json" ] || { echo "tidy: no compile_commands.json in $build; configure it first" >&2; exit 2; }
command -v run-clang-tidy >/dev/null || { echo "tidy: run-clang-tidy is missing (scripts/setup.sh installs clang-tidy)" >&2; exit 2; }
# GCC's own warning options mean nothing to clang-tidy.
run-clang-tidy -quiet -p "$build" -j "$(nproc)" -extra-arg=-Wno-unknown-warning-option \
  "^$root/(midi|score)/[^/]*\.cpp\$"
