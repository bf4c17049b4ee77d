# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# Sourced, not run.

HARKAVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HARKAVEL_BUILD=${HARKAVEL_BUILD:-$HARKAVEL_ROOT/build}

HARKAVEL_PACKAGES=(
    cmake ninja-build g++ pkg-config clang-format
    qt6-base-dev libgl-dev qt6-translations-l10n
    libclamav-dev clamav clamav-testfiles
    gettext desktop-file-utils
    libcurl4-openssl-dev curl nginx-light openssl ca-certificates
)

install_missing_packages() {
    local missing=()
    local package
    for package in "${HARKAVEL_PACKAGES[@]}" "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    cmake -S "$HARKAVEL_ROOT" -B "$HARKAVEL_BUILD" -G Ninja "$@"
    cmake --build "$HARKAVEL_BUILD"
}
