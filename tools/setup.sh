#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, testing and packaging Merchalog
# need.
# Does nothing when everything is already there.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsqlite3-dev sqlite3
    libpq-dev postgresql-15 postgresql-contrib openssl
    mdbtools mdbtools-dev
    xvfb xauth xdotool imagemagick poppler-utils
    fonts-ipafont-gothic
    clang libclang-rt-14-dev
    e2fsprogs
    qt6-translations-l10n
    dpkg-dev file lintian desktop-file-utils appstream shared-mime-info libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update
    $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
