#!/usr/bin/env bash
# Saves a PNG of every wizard window in its interesting states into out/screenshots/, drawn by a
# real X server (Xvfb) at 96 dots per inch. Builds the screenshot tool into build/ when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=out/screenshots
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_UI=ON >/dev/null
fi
cmake --build "$build" -j "${JOBS:-1}" --target quillsort-screens >/dev/null
rm -rf "$out"
mkdir -p "$out"
# The desktop folder shown on the multiple-folders page is that of this scratch home.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Desktop"
HOME=$home QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$build/ui/quillsort-screens" "$out"
ls "$out"
