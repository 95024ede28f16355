#!/usr/bin/env bash
# Builds the Debian package (dpkg-buildpackage -us -uc -b) and moves the results into out/:
# quillsort_VERSION_ARCH.deb, its -dbgsym package, .buildinfo and .changes.
#
# The build runs on a copy of the source tree in build-package/ (never in build/, which the test
# suite uses), because dpkg-buildpackage writes into the source tree and its parent folder. The
# copy keeps its path from run to run so that ccache, when installed, finds its earlier results.
# Needs the packages of debian/control's Build-Depends, plus dpkg-dev and debhelper.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build-package
src=$work/quillsort

rm -rf "$work"
mkdir -p "$src" "$root/out"
# What is tracked and what is new, without build trees, results or installed npm readers.
tar -C "$root" -cf - --exclude-vcs --exclude='./build*' --exclude='./out' --exclude='./obj-*' \
    --exclude='node_modules' . | tar -C "$src" -xf -

# debhelper points HOME at a scratch folder while it builds, so ccache would lose its settings and
# its cache; name both explicitly.
if command -v ccache >/dev/null 2>&1 && [ -d /usr/lib/ccache ]; then
  export PATH="/usr/lib/ccache:$PATH"
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
  config="${XDG_CONFIG_HOME:-$HOME/.config}/ccache/ccache.conf"
  [ -f "$config" ] && export CCACHE_CONFIGPATH="$config"
fi
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc 2>/dev/null || echo 2)}"

(cd "$src" && dpkg-buildpackage -us -uc -b)

version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
rm -f "$root"/out/quillsort_*.deb "$root"/out/quillsort-dbgsym_*.deb "$root"/out/quillsort_*.buildinfo \
      "$root"/out/quillsort_*.changes
mv "$work"/quillsort_"$version"_*.deb "$work"/quillsort-dbgsym_"$version"_*.deb \
   "$work"/quillsort_"$version"_*.buildinfo "$work"/quillsort_"$version"_*.changes "$root/out/"
rm -rf "$work"
ls -l "$root"/out/quillsort*_"$version"_*
