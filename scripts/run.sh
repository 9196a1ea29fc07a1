#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Korvalin and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$root/build/app/korvalin" "$@"
