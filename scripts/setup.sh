#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing, then configures and
# builds into build/. Shared by run.sh and test.sh; runs as root (or with sudo where it exists).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ pkg-config ccache clang-format libgtest-dev libgmime-3.0-dev libjemalloc-dev
          pff-tools python3-pypff pst-utils qt6-base-dev fonts-wine fonts-dejavu-core librsvg2-bin
          # The wizard under a real window manager.
          openbox xvfb xauth xdotool x11-utils
          # Verifying and decrypting the S/MIME entities the tests read back.
          openssl
          # The Debian package: building it, and the test that installs it and uses what it installed.
          dpkg-dev debhelper lintian desktop-file-utils appstream man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node may come from elsewhere with npm inside it; Debian's own pair is only needed without one.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The npm reader that walks tables the way Outlook's own views do.
if [ ! -d tests/readers/node_modules/pst-extractor ]; then
  (cd tests/readers && npm ci --no-audit --no-fund --loglevel=error)
fi

# test.sh builds the tree a second time without Qt; with both builds going through ccache, paths
# taken relative to the checkout and the build folder left out of the hash, the second one costs
# little more than linking.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_UI=ON \
      -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
cmake --build build -j "$jobs"
