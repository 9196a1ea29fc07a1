#!/usr/bin/env bash
# Installs everything Korvalin needs on a fresh Debian 12 machine, by package
# name, and nothing else. Safe to run again: it installs only what is missing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  build-essential g++ cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-webchannel-dev libqt6opengl6-dev qt6-l10n-tools qt6-svg-dev
  libgl-dev libxkbcommon-dev
  libfluidsynth-dev fluidsynth timgm6mb-soundfont
  libxml2-utils python3
  xvfb xauth imagemagick sox fonts-dejavu-core poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The machine image may carry Node.js with its own npm (which conflicts with
# Debian's npm package); only a machine with neither gets Debian's.
for p in nodejs npm; do
  command -v npm >/dev/null 2>&1 && break
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The score library comes pinned from the npm registry; nothing of it is committed.
# Only its prebuilt browser file is used, so its optional dependencies (a
# headless GL binding for Node) are left out and no package's install script
# runs: nothing is compiled or fetched from outside the registry.
if [ -f "$here/viewer/package-lock.json" ]; then
  if [ ! -f "$here/viewer/node_modules/opensheetmusicdisplay/build/opensheetmusicdisplay.min.js" ] || \
     ! cmp -s "$here/viewer/package-lock.json" "$here/viewer/node_modules/.korvalin-lock"; then
    (cd "$here/viewer" && npm ci --ignore-scripts --omit=optional --no-audit --no-fund --silent >/dev/null \
      && cp package-lock.json node_modules/.korvalin-lock)
  fi
fi
