#!/usr/bin/env bash
# Cross-builds the layers that have a Windows side (common, fs and the PST writer's ndb, ltp and
# messaging, and the reader) with Debian's mingw-w64 and runs their tests under wine, headless, in
# a throwaway wine prefix. Installs the compiler and wine with apt-get when they are missing.
#
#   scripts/cross_build.sh [build folder]      (default: build-win)
#
# Exit status: 0 when everything built and passed, 77 when it cannot run here (no apt-get to
# install what is missing, or wine cannot start), anything else on a failure.
#
# Not part of test.sh: on a fresh machine the packages alone are about 170 MB to download and
# 930 MB installed, and a fresh wine prefix another 700 MB, which together with the build cost
# more than the rest of the suite gains from it in a routine run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

packages=(cmake g++-mingw-w64-x86-64-posix googletest wine wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  if ! command -v apt-get >/dev/null 2>&1 || { [ ${#sudo_cmd[@]} -gt 0 ] && ! sudo -n true 2>/dev/null; }; then
    echo "cross_build: skipped: needs ${missing[*]} and cannot install them here"
    exit 77
  fi
  echo "Installing: ${missing[*]}"
  # No network or no package source is a machine that cannot run this, not a failure of the code.
  if ! "${sudo_cmd[@]}" apt-get update -qq ||
     ! DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "cross_build: skipped: apt-get could not install ${missing[*]}"
    exit 77
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"

# Wine needs no display for console programs. The prefix is made fresh for each run and removed
# afterwards, so no state from an earlier run (or from the user's own ~/.wine) changes a result;
# mono and gecko are declined so that its first start does not try to fetch them.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quill-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
started=$(date +%s)
if ! wine cmd /c exit >/dev/null 2>&1; then
  echo "cross_build: skipped: wine does not start here"
  exit 77
fi
echo "wine prefix made in $(( $(date +%s) - started )) s"
# The store that the file test writes under wine is kept (wine reads Z: as the root folder) and
# read again here by the independent checker, when it is there. Its verdict is shown, not made the
# script's: the same store written on Linux gets the same findings, and those belong to the writer
# on every system, not to its Windows build.
store=$(realpath "$build")/written-under-wine.pst
rm -f "$store"
QUILL_STORE_COPY="Z:${store//\//\\}" ctest --test-dir "$build" --output-on-failure
checker=../shared/tools/pst-check/pst-check
if [ -f "$store" ] && [ -x "$checker" ]; then
  echo "pst-check on the store written under wine: $("$checker" "$store" | tail -n 1 || true)"
fi
