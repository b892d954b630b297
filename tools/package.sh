#!/usr/bin/env bash
# Builds the Debian package from the build in build/ and checks it: lintian must report no
# error, and the menu entry and AppStream data must pass their validators. Then installs it
# on this machine, runs the installed program's commands, starts it once as a new user would
# from the menu, checks that a file manager takes catalogues for its files, and removes it.
# tools/test.sh runs it after the tests. The installation needs root (or sudo); a merchalog
# package installed here already is left alone and the installed checks are skipped.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(pwd)/build"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/merchalog_${version}_$(dpkg --print-architecture).deb"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

fail() {
    echo "package.sh: $*" >&2
    exit 1
}

# Runs a command quietly; shows what it said when it fails.
quietly() {
    local log
    log="$(mktemp)"
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

rm -f "$deb"
(cd "$build" && quietly cpack -G DEB) || fail "cpack failed"
[ -f "$deb" ] || fail "cpack wrote no $deb"
echo "Package: $deb"

work="$(mktemp -d)"
installed=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    if [ -n "$installed" ]; then
        quietly $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q \
            -o DPkg::Lock::Timeout=300 merchalog || echo "package.sh: could not remove the merchalog package" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
lintian_status=0
lintian_report="$(lintian --fail-on error "$deb" 2>&1)" || lintian_status=$?
grep -v 'running with root privileges' <<<"$lintian_report" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"

# Parallel runs on one machine take turns with the installed package.
exec 9>"${TMPDIR:-/tmp}/merchalog-package.lock"
flock 9
if dpkg-query -W -f='${Status}' merchalog 2>/dev/null | grep -q "install ok installed"; then
    echo "package.sh: a merchalog package is installed here already; not replacing it"
    exit 0
fi
installed=yes
quietly $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=300 "$deb" || fail "the package does not install"

# Commands need no display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
first_line="$("${no_display[@]}" merchalog --version | head -n1)"
[ "$first_line" = "Merchalog $version" ] || fail "merchalog --version printed \"$first_line\""
help="$("${no_display[@]}" merchalog --help)"
grep -q -- '--version' <<<"$help" || fail "merchalog --help lists no --version"
status=0
"${no_display[@]}" merchalog --no-such-option 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "an unknown option ended with status $status"
echo "Installed: $("${no_display[@]}" merchalog --version | head -n1)"

# A new user starts it from the menu: the working folder is home, nothing of theirs exists.
home="$work/home"
data="$home/.local/share/Merchalog"
mkdir -p "$home"
(cd "$home" && exec env -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen merchalog >/dev/null 2>&1) &
app_pid=$!
for _ in $(seq 100); do
    [ -s "$data/database.mdb" ] && [ -f "$data/howto.num" ] && break
    sleep 0.1
done
kill "$app_pid" 2>/dev/null || true
app_pid=""
cmp -s "$data/database.mdb" /usr/share/merchalog/database.dft || fail "no first database.mdb in $data"
[ "$(cat "$data/howto.num")" = "$(cat /usr/share/merchalog/howto.num)" ] || fail "no first howto.num in $data"

# The file type: a catalogue is ours, an Access file of the same name stays Access's.
cp /usr/share/merchalog/sample.mdb "$work/shop.mdb"
{ printf '\000\001\000\000Standard Jet DB\000'; head -c 2000 /dev/zero; } > "$work/access.mdb"
type_of() { gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
[ "$(type_of "$work/shop.mdb")" = application/x-merchalog-catalogue ] \
    || fail "a catalogue is of type $(type_of "$work/shop.mdb")"
[ "$(type_of "$work/access.mdb")" = application/vnd.ms-access ] \
    || fail "an Access file is of type $(type_of "$work/access.mdb")"
grep -q '^application/x-merchalog-catalogue=.*example\.merchalog\.Merchalog\.desktop' \
    /usr/share/applications/mimeinfo.cache || fail "the menu entry does not open catalogues"
echo "Package checks passed"
