# Shared by ./run and ./test: package installation and the build helpers.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export CCACHE_BASEDIR="$ROOT"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/kestrel-ccache}"

# Installs the Debian packages that are not installed yet (nothing when all are present). Fails
# only when one of them cannot be installed.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    # One index that cannot be fetched (a mirror in the middle of a sync) must not stop the run: the
    # lists already there may well hold every package. Only a package that cannot be installed does.
    if ! $sudo apt-get update -qq; then
        echo "warning: apt-get update failed for at least one package index; going on with the lists there are" >&2
    fi
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
        echo "error: cannot install: ${missing[*]}" >&2
        return 1
    fi
}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libpng-dev zlib1g-dev libssl-dev libgtest-dev libgmock-dev
    libbenchmark-dev clang-14 libclang-rt-14-dev ccache qt6-base-dev qt6-translations-l10n libqt6svg6
    qt6-tools-dev qt6-l10n-tools fonts-wqy-microhei libstb-dev)
TEST_PACKAGES=(python3 python3-pefile imagemagick clang-format time binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64 groff-base desktop-file-utils appstream bash-completion osslsigncode openssl gettext icoutils)
STATIC_PACKAGES=(clang-tidy-14 cppcheck)
