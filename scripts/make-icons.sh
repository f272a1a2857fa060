#!/usr/bin/env bash
# Renders the application icon data/icons/hicolor/scalable/apps/org.oxlip.Oxlip.svg into the
# PNGs of the hicolor theme (data/icons/hicolor/NxN/apps/org.oxlip.Oxlip.png). Run it after
# changing the SVG and commit the PNGs with it: the build takes the committed PNGs (the window
# and the package), so building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
if ! command -v rsvg-convert >/dev/null; then
    echo "make-icons.sh: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2
    exit 1
fi
for size in 16 22 24 32 48 64 128 256; do
    dir="${size}x${size}/apps"
    mkdir -p "$dir"
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "$dir/org.oxlip.Oxlip.png" scalable/apps/org.oxlip.Oxlip.svg
done
echo "icons written to $(pwd)"
