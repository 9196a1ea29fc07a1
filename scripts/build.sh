#!/usr/bin/env bash
# Configures and builds one build tree, warnings as errors (a plain cmake
# build leaves them warnings). Usage: build.sh DIR [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"; shift
cmake -S "$root" -B "$root/$dir" -G Ninja -Wno-dev -DKORVALIN_WERROR=ON "$@" >/dev/null
cmake --build "$root/$dir"
