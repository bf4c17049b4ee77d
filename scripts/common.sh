# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# Sourced, not run.

HARKAVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HARKAVEL_BUILD=${HARKAVEL_BUILD:-$HARKAVEL_ROOT/build}

HARKAVEL_PACKAGES=(
    cmake ninja-build g++ pkg-config clang-format
    qt6-base-dev libgl-dev qt6-translations-l10n
    libclamav-dev clamav clamav-freshclam clamav-testfiles
    gettext desktop-file-utils appstream lintian reuse clamav-daemon clamdscan
    libcurl4-openssl-dev curl nginx-light openssl ca-certificates
)

install_missing_packages() {
    local missing=()
    local package
    for package in "${HARKAVEL_PACKAGES[@]}" "$@"; do
        # A package removed but not purged still has a status: only "installed" counts.
        [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    # clamd and freshclam are wanted as programs only: the benchmark starts its own clamd, and a
    # freshclam service would reach out to the internet. A policy that refuses every service
    # start keeps the packages from starting them.
    local policy=/usr/sbin/policy-rc.d added_policy=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod 755 "$policy"
        added_policy=yes
    fi
    local status=0
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || status=$?
    [ -n "$added_policy" ] && $sudo rm -f "$policy" # also when the install failed
    return $status
}

configure_and_build() {
    cmake -S "$HARKAVEL_ROOT" -B "$HARKAVEL_BUILD" -G Ninja "$@"
    cmake --build "$HARKAVEL_BUILD"
}
