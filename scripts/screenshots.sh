#!/usr/bin/env bash
# Saves a PNG of every wizard window in its interesting states into out/screenshots/ (and at twice
# the scale into out/screenshots/2x/), drawn by a real X server (Xvfb) at 96 dots per inch. Builds
# the screenshot tool into build/ when needed.
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
# Once at 96 dots per inch, once at twice the scale (into 2x/), where blurry artwork shows.
for scale in 1 2; do
  dir=$out
  [ "$scale" = 1 ] || dir=$out/${scale}x
  HOME=$home QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 2732x2048x24 -dpi 96" "$build/ui/quillsort-screens" "$dir"
done
ls -R "$out"
