#!/usr/bin/env bash
# Builds the program and runs it in its application folder (build/app). With no display it
# runs on a virtual display, saves a screenshot of the main window and ends the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
app=build/app
[ -f "$app/howto.num" ] || printf '0' > "$app/howto.num"
[ -e "$app/database.mdb" ] || cp "$app/database.dft" "$app/database.mdb"
cd "$app"
if [ -n "${DISPLAY:-}" ]; then
    exec ./merchalog
fi
shot="$(cd .. && pwd)/merchalog-screenshot.png"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$app_pid" 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do DISPLAY="$display" xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY="$display" ./merchalog &
app_pid=$!
DISPLAY="$display" xdotool search --sync --name "Merchalog - " >/dev/null
sleep 1
DISPLAY="$display" import -window root "$shot"
echo "Screenshot of the main window: $shot"
