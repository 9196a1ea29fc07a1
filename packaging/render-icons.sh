#!/usr/bin/env bash
# Renders the program's icon (icons/org.velthane.Korvalin.svg) to the PNG
# sizes the menu and the window use. Run after changing the picture and commit
# the PNGs with it; the build takes them as they are.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$here/icons/org.velthane.Korvalin.svg" -o "$here/icons/$size.png"
done
