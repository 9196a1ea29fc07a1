#!/usr/bin/env bash
# Installs everything Korvalin needs on a fresh Debian 12 machine, by package
# name, and nothing else. Safe to run again: it installs only what is missing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Runs one step with its output kept aside: nothing is printed when it works;
# when it fails, the step, its own last output and what to check are.
step() {
  local what="$1" log status=0
  shift
  log="$(mktemp)"
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    {
      echo "setup: $what failed (exit status $status): $*"
      echo "---- its output (last 40 lines) ----"
      tail -n 40 "$log"
      echo "------------------------------------"
      echo "Check that this machine reaches the package registry: the network connection,"
      echo "a proxy if one is needed (http_proxy / https_proxy, npm's proxy setting),"
      echo "the system's certificates (package ca-certificates, or a proxy's own certificate),"
      echo "and the registry address (apt sources, npm_config_registry)."
    } >&2
    rm -f "$log"
    exit "$status"
  fi
  rm -f "$log"
}

packages=(
  build-essential g++ cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format clang-tidy
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-webchannel-dev libqt6opengl6-dev qt6-l10n-tools qt6-translations-l10n qt6-svg-dev
  libgl-dev libxkbcommon-dev
  libfluidsynth-dev fluidsynth timgm6mb-soundfont pulseaudio pulseaudio-utils
  libxml2-utils python3
  xvfb xauth imagemagick sox fonts-dejavu-core poppler-utils
  desktop-file-utils appstream librsvg2-bin dpkg-dev file
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
  step "updating the Debian package lists" $sudo apt-get update -qq
  step "installing Debian packages (${missing[*]})" \
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The score library comes pinned from the npm registry; nothing of it is committed.
# Only its prebuilt browser file is used, so its optional dependencies (a
# headless GL binding for Node) are left out and no package's install script
# runs: nothing is compiled or fetched from outside the registry.
if [ -f "$here/viewer/package-lock.json" ]; then
  if [ ! -f "$here/viewer/node_modules/opensheetmusicdisplay/build/opensheetmusicdisplay.min.js" ] || \
     ! cmp -s "$here/viewer/package-lock.json" "$here/viewer/node_modules/.korvalin-lock"; then
    step "installing the score library from the npm registry" \
      env -C "$here/viewer" npm ci --ignore-scripts --omit=optional --no-audit --no-fund
    cp "$here/viewer/package-lock.json" "$here/viewer/node_modules/.korvalin-lock"
  fi
fi
