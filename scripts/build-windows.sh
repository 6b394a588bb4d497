#!/bin/bash
# Cross-builds the Windows command line (kestrel.exe, kestrel-rcedit.exe) with Debian's MinGW-w64
# and packs it with the README and the licence texts into build/windows/kestrel-<version>-win64.zip.
#
#   scripts/build-windows.sh            the programs, the import check and the zip
#   scripts/build-windows.sh --tests    also the core and command-line tests (run them with
#                                       tests/windows/run-wine.sh)
#
# Third-party code comes from Debian only: the compiler and zlib as packages, libpng built from
# Debian's source package, GoogleTest from /usr/src/googletest. The libraries are built once into
# ~/.cache/kestrel-mingw (KESTREL_MINGW_CACHE) and reused.
set -euo pipefail

cd "$(dirname "$0")/.."
source scripts/common.sh
root=$PWD
with_tests=OFF
[ "${1:-}" = "--tests" ] && with_tests=ON

cache=${KESTREL_MINGW_CACHE:-$HOME/.cache/kestrel-mingw}
prefix=$cache/x86_64
build=${KESTREL_WINDOWS_BUILD:-$root/build/windows}
triplet=x86_64-w64-mingw32
cc=$triplet-gcc-posix
jobs=${KESTREL_JOBS:-2}

# --- Packages ----------------------------------------------------------------------------------------
packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev zip)
[ "$with_tests" = ON ] && packages+=(wine64 googletest)
ensure_packages "${packages[@]}"

# --- libpng from Debian's source package ------------------------------------------------------------
if [ ! -f "$prefix/lib/libpng.a" ]; then
    work=$cache/src
    rm -rf "$work"
    mkdir -p "$work" "$prefix/include" "$prefix/lib"
    if ! (cd "$work" && apt-get source --download-only libpng1.6); then
        # Source packages need a deb-src entry; add one for the configured Debian archive.
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources |
                sed 's/^Types: deb$/Types: deb-src/' >/etc/apt/sources.list.d/kestrel-deb-src.sources
        else
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/kestrel-deb-src.list
        fi
        apt-get update || true
        (cd "$work" && apt-get source --download-only libpng1.6)
    fi
    (cd "$work" && dpkg-source --no-check -x libpng1.6_*.dsc libpng)
    src=$work/libpng
    cp "$src/scripts/pnglibconf.h.prebuilt" "$src/pnglibconf.h"
    objects=()
    for f in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans \
        pngwio pngwrite pngwtran pngwutil; do
        "$cc" -O2 -I"$src" -c "$src/$f.c" -o "$work/$f.o"
        objects+=("$work/$f.o")
    done
    rm -f "$prefix/lib/libpng.a"
    $triplet-ar rcs "$prefix/lib/libpng.a" "${objects[@]}"
    cp "$src/png.h" "$src/pngconf.h" "$src/pnglibconf.h" "$prefix/include/"
    mkdir -p "$prefix/share/licenses"
    cp "$src/LICENSE" "$prefix/share/licenses/libpng.txt"
fi

# The image code's resampler is header-only (stb); the cross compiler must not see /usr/include.
if [ ! -f "$prefix/include/stb/stb_image_resize.h" ]; then
    mkdir -p "$prefix/include/stb"
    cp /usr/include/stb/stb_image_resize.h "$prefix/include/stb/"
fi

# --- GoogleTest (tests only) -----------------------------------------------------------------------
if [ "$with_tests" = ON ] && [ ! -f "$prefix/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$cache/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKESTREL_MINGW_PREFIX="$prefix" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF
    cmake --build "$cache/gtest-build" -j"$jobs"
    cmake --install "$cache/gtest-build"
fi

# --- The programs -----------------------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKESTREL_MINGW_PREFIX="$prefix" \
    -DKESTREL_QT=OFF -DKESTREL_SIGNING=OFF -DKESTREL_TESTS=OFF \
    -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triplet/include
cmake --build "$build" -j"$jobs" --target kestrel kestrel-rcedit

# The test programs are built apart without optimisation: that compiles in half the time, and
# g++ 12's optimiser reports false overflows in inlined library code of some tests.
if [ "$with_tests" = ON ]; then
    tests_build=${KESTREL_WINDOWS_TESTS_BUILD:-$root/build/windows-tests}
    cmake -S "$root" -B "$tests_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
        -DCMAKE_C_FLAGS_DEBUG=-O0 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DKESTREL_MINGW_PREFIX="$prefix" -DKESTREL_QT=OFF -DKESTREL_SIGNING=OFF -DKESTREL_TESTS=ON \
        -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triplet/include
    mapfile -t test_targets < <(cmake --build "$tests_build" --target help | sed -n 's/^\(tests_[a-z_]*\): .*/\1/p')
    cmake --build "$tests_build" -j"$jobs" --target "${test_targets[@]}"
fi

# --- Import check with our own PE reader (a native build of the small tool) ---------------------------
native=${KESTREL_NATIVE_BUILD:-$root/build/debug}
if [ ! -f "$native/build.ninja" ]; then
    cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Debug
fi
cmake --build "$native" -j"$jobs" --target pe-imports
"$native/tools/pe-imports/pe-imports" --check "$build/kestrel.exe" "$build/kestrel-rcedit.exe"

# --- The zip --------------------------------------------------------------------------------------
version=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$build/kestrel-$version-win64
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage/licenses"
cp "$build/kestrel.exe" "$build/kestrel-rcedit.exe" "$stage/"
$triplet-strip "$stage/kestrel.exe" "$stage/kestrel-rcedit.exe"
cp README.md "$stage/README.md"
cp packaging/copyright "$stage/licenses/kestrel.txt"
cp "$prefix/share/licenses/libpng.txt" "$stage/licenses/libpng.txt"
zlib_copyright=/usr/share/doc/libz-mingw-w64-dev/copyright
[ -f "$zlib_copyright" ] || zlib_copyright=/usr/share/doc/libz-mingw-w64/copyright
cp "$zlib_copyright" "$stage/licenses/zlib.txt"
# The C++ runtime (GCC runtime library exception) and the MinGW-w64 runtime and thread library.
for doc in gcc-mingw-w64-base mingw-w64-common; do
    [ -f /usr/share/doc/$doc/copyright ] && cp /usr/share/doc/$doc/copyright "$stage/licenses/$doc.txt"
done
(cd "$build" && zip -q -r -X "kestrel-$version-win64.zip" "kestrel-$version-win64")
echo "built $build/kestrel-$version-win64.zip"
