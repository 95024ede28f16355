#!/usr/bin/env bash
# The wizard under a real X server and window manager (Xvfb and openbox), driven with xdotool as a
# person drives it: a single-mode run of a small folder. It checks what only a window manager
# shows: the progress window is transient for the single-folder page and stays above it while the
# run goes on, also when the page is raised; and after the run it leaves the page's buttons free.
#
# Usage: scripts/window_test.sh PATH-TO-quillsort
# Exits 77 (skipped) when Xvfb, openbox, xdotool or xprop is missing. Every wait polls with a
# deadline, so a slow machine only makes it slower.
set -euo pipefail

program=${1:?usage: window_test.sh PATH-TO-quillsort}
for tool in Xvfb openbox xdotool xprop; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- ${log##*/}" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}

# Polls `command` every 0.1 s until it succeeds; fails after $timeout seconds.
timeout=${WINDOW_TEST_TIMEOUT:-60}
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + timeout))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    sleep 0.1
  done
}

# The id of the visible window titled exactly $1, waiting for it to appear.
window_named() {
  local name=$1 id=""
  local deadline=$((SECONDS + timeout))
  while :; do
    id=$(xdotool search --onlyvisible --name "^${name}\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    ((SECONDS < deadline)) || fail "no window \"$name\" appeared"
    sleep 0.1
  done
  echo "$id"
}

gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# The client window that WM_TRANSIENT_FOR of $1 names, in decimal; empty when none.
transient_for() {
  xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p' |
    { read -r hex && printf '%d\n' "$hex" || true; }
}

# True when window $1 is stacked above window $2 (the window manager's own stacking list).
above() {
  local list
  list=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
  local i=0 first=-1 second=-1 id
  for id in $list; do
    [ $((id)) -eq "$1" ] && first=$i
    [ $((id)) -eq "$2" ] && second=$i
    i=$((i + 1))
  done
  [ "$first" -ge 0 ] && [ "$second" -ge 0 ] && [ "$first" -gt "$second" ]
}

# A window's client area as "x y w h"; the frames lie around these, so client areas that meet
# mean windows that cover each other.
geometry() {
  xdotool getwindowgeometry --shell "$1" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2}
    END {print x, y, w, h}'
}

overlap() {
  read -r ax ay aw ah <<<"$(geometry "$1")"
  read -r bx by bw bh <<<"$(geometry "$2")"
  [ "$ax" -lt $((bx + bw)) ] && [ "$bx" -lt $((ax + aw)) ] && [ "$ay" -lt $((by + bh)) ] && [ "$by" -lt $((ay + ah)) ]
}

press() {
  local window=$1
  shift
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus --sync "$window"
  xdotool key --clearmodifiers "$@"
}

# A source folder of a few hundred small messages, and a home whose desktop takes the data file.
mkdir -p "$work/home/Desktop" "$work/Mail/Inbox"
for i in $(seq 1 400); do
  printf 'From: a@example.org\r\nTo: b@example.org\r\nSubject: Message %d\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\nBody %d.\r\n' \
    "$i" "$i" >"$work/Mail/Inbox/$i.eml"
done

# The X server picks a free display itself and names it on fd 3.
mkfifo "$work/display"
exec 3<>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t "$timeout" display <&3 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
exec 3<&-
export DISPLAY=":$display"

# The server names its display as soon as it listens, which on a loaded machine can be a moment
# before it takes clients: the window manager starts once a client got through, and is started
# again should it still find no display.
wait_until "the X server to take clients" xprop -root
wm_pid=""
start_wm() {
  openbox --sm-disable >>"$work/openbox.log" 2>&1 &
  wm_pid=$!
  pids+=("$wm_pid")
}
start_wm
wm_deadline=$((SECONDS + timeout))
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
  ((SECONDS < wm_deadline)) || fail "timed out waiting for openbox to manage windows"
  kill -0 "$wm_pid" 2>/dev/null || start_wm
  sleep 0.1
done

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 \
  "$program" >"$work/program.log" 2>&1 &
pids+=($!)

start=$(window_named "Marrowfeld Quillsort v3.1")
# Enter presses the start page's default Next: the single-folder page.
press "$start" Return
page=$(window_named "Single Folder Mode")
[ "$(transient_for "$page")" = "$start" ] || fail "the single-folder page is not transient for the start page"

# Select... has the focus when the page opens: Space presses it and shows the folder picker.
press "$page" space
picker=$(window_named "Choose Source Folder...")
xdotool windowactivate --sync "$picker" >/dev/null 2>&1 || true
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 5 "$work/Mail"
xdotool key --clearmodifiers Return
wait_until "the folder picker to close" gone "Choose Source Folder..."

# Next (focused after a folder was chosen): the progress window, then the Save dialog.
press "$page" Return
progress=$(window_named "Conversion Status")
save=$(window_named "Save As")
[ "$(transient_for "$progress")" = "$page" ] ||
  fail "WM_TRANSIENT_FOR of the progress window is '$(transient_for "$progress")', not the page ($page)"
xprop -id "$progress" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
  fail "the progress window is not a dialog: $(xprop -id "$progress" _NET_WM_WINDOW_TYPE)"
wait_until "the progress window above the page" above "$progress" "$page"

# Raising the page while the run waits does not bury the progress window.
xdotool windowraise "$page"
xdotool windowactivate "$page" >/dev/null 2>&1 || true
sleep 0.2
wait_until "the progress window to stay above the raised page" above "$progress" "$page"

# Accept the proposed name: the run converts, raising the page as it goes.
press "$save" Return
checks=0
while gone "Completed"; do
  xdotool windowraise "$page" 2>/dev/null || true
  if xdotool search --onlyvisible --name '^Conversion Status$' >/dev/null 2>&1; then
    above "$progress" "$page" || fail "the page covered the progress window during the run"
    checks=$((checks + 1))
  fi
  ((SECONDS < timeout * 3)) || fail "the run did not finish"
  sleep 0.05
done
done_box=$(window_named "Completed")
xdotool windowraise "$page"
wait_until "the progress window above the page at the end of the run" above "$progress" "$page"
press "$done_box" Return
wait_until "the completion box to close" gone "Completed"

# After the run the page's buttons are not under the progress window.
overlap "$progress" "$page" && fail "the finished progress window covers the page"
ls "$work/home/Desktop"/Mail*.pst >/dev/null 2>&1 || fail "no data file was written"

echo "PASS: progress window transient for the page and above it (checked $checks times during the run)"
