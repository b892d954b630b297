#!/usr/bin/env bash
# Builds the program and runs it in its application folder (<build>/app).
# With a display it simply runs. With none it runs on a virtual display, saves a screenshot
# of the main window to <build>/merchalog-screenshot.png, prints its path and ends the
# program. MERCHALOG_SCREENSHOTS=all also saves the help windows, the version window, the
# open dialog and the printer set-up dialog.
# MERCHALOG_BUILD_DIR chooses another build folder (only the program is built there).
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
build="${MERCHALOG_BUILD_DIR:-build}"
if [ "$build" = build ]; then
    bash tools/build.sh
else
    bash tools/setup.sh
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target merchalog
fi
build="$(cd "$build" && pwd)"
app="$build/app"
# A fresh installation shows the start-up guide and works on an empty catalogue.
[ -f "$app/howto.num" ] || printf '0\r\n' > "$app/howto.num"
[ -e "$app/database.mdb" ] || cp "$app/database.dft" "$app/database.mdb"
cd "$app"
if [ -n "${DISPLAY:-}" ]; then
    exec ./merchalog
fi

shot="$build/merchalog-screenshot.png"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

./merchalog &
app_pid=$!
main_id="$(xdotool search --sync --name '^Merchalog - ' | head -n1)"

# Waits up to two seconds for a window titled exactly $1 and prints its id.
find_window() {
    for _ in $(seq 20); do
        id="$(xdotool search --name "^$1\$" 2>/dev/null | head -n1 || true)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# There is no window manager to arrange the windows: put the main window top left and the
# start-up guide (shown while howto.num holds 0) beside it.
xdotool windowmove --sync "$main_id" 0 0 || true
if guide_id="$(find_window 'HOW TO Merchalog')"; then
    xdotool windowmove "$guide_id" 820 0 || true
fi
sleep 1
import -window "$main_id" "$shot"
echo "Screenshot of the main window: $shot"

if [ "${MERCHALOG_SCREENSHOTS:-}" = all ]; then
    if [ -n "${guide_id:-}" ]; then
        import -window "$guide_id" "$build/merchalog-guide.png"
        echo "Screenshot of the start-up guide: $build/merchalog-guide.png"
    fi
    xdotool windowfocus --sync "$main_id"
    xdotool key alt+h h
    if help_id="$(find_window 'HOW　TO　Merchalog')"; then
        xdotool windowmove "$help_id" 820 460 || true
        sleep 0.5
        import -window "$help_id" "$build/merchalog-help.png"
        echo "Screenshot of the help window: $build/merchalog-help.png"
    fi
    xdotool windowfocus --sync "$main_id"
    xdotool key alt+h v
    if version_id="$(find_window 'バージョン情報')"; then
        xdotool windowmove "$version_id" 0 500 || true
        sleep 0.5
        import -window "$version_id" "$build/merchalog-version.png"
        echo "Screenshot of the version window: $build/merchalog-version.png"
    fi
    # Qt's standard dialogs, which speak Japanese too: 開く and 印刷設定 of the file menu.
    for dialog in "o 開く open-dialog" "t 印刷 print-setup"; do
        read -r key title name <<<"$dialog"
        xdotool windowfocus --sync "$main_id"
        xdotool key alt+f "$key"
        if dialog_id="$(find_window "$title")"; then
            xdotool windowmove "$dialog_id" 100 80 || true
            sleep 0.5
            import -window "$dialog_id" "$build/merchalog-$name.png"
            echo "Screenshot of the $title dialog: $build/merchalog-$name.png"
            xdotool key --window "$dialog_id" Escape
            sleep 0.3
        fi
    done
    import -window root "$build/merchalog-screen.png"
    echo "Screenshot of the whole screen: $build/merchalog-screen.png"
fi
