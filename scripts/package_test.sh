#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt-get, uses what it
# installed (the converter on samples/Mail, the checker on the result, the wizard under Xvfb, the
# manual pages, the desktop entry, the metainfo), purges it and checks that nothing of it is left.
#
# It changes the system, so it runs only as root with apt-get; elsewhere it exits with 77, which
# ctest counts as skipped. It also skips when a quillsort package is installed already: the purge
# at the end would remove it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $* ($(($(date +%s) - start)) s)"; }

[ "$(id -u)" -eq 0 ] || skip "needs root: it installs and purges the package"
command -v apt-get >/dev/null 2>&1 || skip "needs apt-get"
if dpkg-query -W -f='${Status}' quillsort 2>/dev/null | grep -q 'install ok installed'; then
  skip "a quillsort package is installed already; this test would purge it"
fi
for tool in dpkg-buildpackage dh lintian xvfb-run xdotool desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/setup.sh installs it)"
done

tmp=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" -eq 1 ] && dpkg-query -W -f='${Status}' quillsort 2>/dev/null | grep -q 'installed'; then
    apt-get purge -y -qq quillsort >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
apt_opts=(-y -qq -o DPkg::Lock::Timeout=300)

step "building the package"
scripts/package.sh >"$tmp/build.log" 2>&1 || { tail -n 60 "$tmp/build.log"; fail "scripts/package.sh"; }
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
deb=out/quillsort_${version}_${arch}.deb
[ -f "$deb" ] || fail "$deb was not built"

step "lintian"
# The binary packages, which are what is installed. (The .changes names the distribution
# UNRELEASED, which lintian rejects for an upload; nothing here is uploaded.) Errors and warnings
# fail; every accepted warning has its reason in debian/quillsort.lintian-overrides.
lintian --fail-on error,warning --info "$deb" "out/quillsort-dbgsym_${version}_${arch}.deb" || fail "lintian"

# Some Debian images keep manual pages out of every install (dpkg path-exclude). Then the pages
# are let through for this package only, so that man can be asked about the installed pages.
dpkg-deb -c "$deb" >"$tmp/contents"
for page in quillsort quillsort-convert quillsort-check; do
  grep -q "/usr/share/man/man1/$page.1.gz\$" "$tmp/contents" || fail "the package lacks the page $page(1)"
done
if grep -rqs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/; then
  echo "dpkg excludes /usr/share/man here; installing with --path-include for the package's pages"
  apt_opts+=(-o 'DPkg::Options::=--path-include=/usr/share/man/man1/quillsort*')
fi

step "installing $deb"
# Recommends stay out: the test is about what this package brings, not about fonts or xdg-utils.
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" --no-install-recommends "./$deb" >"$tmp/apt.log" 2>&1 ||
  { cat "$tmp/apt.log"; fail "apt-get install"; }
dpkg -L quillsort >"$tmp/files"

step "versions"
for program in quillsort quillsort-convert quillsort-check; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not the installed /usr/bin/$program"
  [ "$(env -u DISPLAY "$program" --version)" = "$program $version" ] || fail "$program --version does not say $version"
done
metainfo=/usr/share/metainfo/org.marrowfeld.quillsort.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo does not list release $version"

step "converting samples/Mail with the installed programs"
status=0
quillsort-convert samples/Mail "$tmp/Mail.pst" </dev/null >"$tmp/convert.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$tmp/convert.log"; fail "quillsort-convert exited with $status"; }
quillsort-check --strict --verbose "$tmp/Mail.pst" >"$tmp/check.log" 2>&1 || { cat "$tmp/check.log"; fail "quillsort-check"; }
messages=$(sed -n 's/^[0-9]* folders, \([0-9]*\) messages.*/\1/p' "$tmp/check.log")
sources=$(find samples/Mail -type f \( -iname '*.eml' -o -iname '*.emlx' \) | wc -l)
[ "$messages" = "$sources" ] || fail "the checker counts ${messages:-no} messages, samples/Mail has $sources"
echo "converted and checked: $messages messages"

step "the wizard under Xvfb"
major_minor=$(echo "$version" | cut -d. -f1-2)
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  quillsort >"$1/wizard.log" 2>&1 &
  pid=$!
  found=$(timeout 60 xdotool search --sync --onlyvisible --name "^Marrowfeld Quillsort v$2\$" || true)
  alive=0; kill -0 "$pid" 2>/dev/null && alive=1
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ -n "$found" ] && [ "$alive" -eq 1 ] || { cat "$1/wizard.log"; exit 1; }
  echo "window $found: $(xdotool getwindowname "$found" 2>/dev/null || echo "Marrowfeld Quillsort v$2")"
' _ "$tmp" "$major_minor" || fail "no visible window \"Marrowfeld Quillsort v$major_minor\" of the installed wizard"

step "manual pages, desktop entry, metainfo, icons"
for page in quillsort quillsort-convert quillsort-check; do
  where=$(man -w "$page") || fail "man -w $page finds no page"
  [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page finds $where, not the installed page"
  # The page must render without groff warnings.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$where" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
desktop-file-validate /usr/share/applications/quillsort.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
for size in 16 22 24 32 48 64 128 256; do
  [ -s "/usr/share/icons/hicolor/${size}x${size}/apps/quillsort.png" ] || fail "no ${size}x${size} icon"
done
[ -s /usr/share/icons/hicolor/scalable/apps/quillsort.svg ] || fail "no scalable icon"
[ -s /usr/share/quillsort/help/quillsort/index.html ] || fail "no help pages"

step "purging"
DEBIAN_FRONTEND=noninteractive apt-get purge "${apt_opts[@]}" quillsort >"$tmp/purge.log" 2>&1 ||
  { cat "$tmp/purge.log"; fail "apt-get purge"; }
installed=0
left=()
while IFS= read -r path; do
  [ "$path" = "/." ] && continue
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    # A folder may stay when another package owns it too, or files of others are in it.
    dpkg-query -S "$path" >/dev/null 2>&1 && continue
    [ -n "$(ls -A "$path")" ] && continue
    left+=("$path")
  elif [ -e "$path" ] || [ -L "$path" ]; then
    left+=("$path")
  fi
done <"$tmp/files"
[ ${#left[@]} -eq 0 ] || fail "left behind by the purge: ${left[*]}"
echo "purged: none of the $(wc -l <"$tmp/files") paths of the package is left"

echo "package test passed in $(($(date +%s) - start)) s"
