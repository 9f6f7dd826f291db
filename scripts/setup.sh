#!/usr/bin/env bash
# Idempotent set-up on a fresh Debian machine: install what is missing, build the driver and its
# tests for Win32, and prepare a Wine prefix inside the build tree. With --packages-only, only the
# installation (scripts/fuzz.sh needs no Win32 build).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

# fonts-wine and fonts-liberation: Wine's stand-ins for the Windows fonts (MS Sans Serif, Arial),
# without which dialogs are measured in a wider font than on Windows. xvfb, x11-utils and
# imagemagick: scripts/screenshot.sh.
PACKAGES=(
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine64 wine fonts-wine fonts-liberation socat xvfb x11-utils imagemagick cmake ninja-build googletest g++
    # The fuzz build: clang, its sanitizer and fuzzer runtimes (only recommended by clang-14), and
    # libFuzzer.
    clang-14 libclang-rt-14-dev libfuzzer-14-dev
)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build_win32() {
    if [ ! -f "$BUILD/build.ninja" ]; then
        cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/scripts/toolchain-mingw64.cmake"
    fi
    cmake --build "$BUILD"
}

prepare_wine() {
    if [ ! -f "$WINEPREFIX/.dravik-ready" ]; then
        echo "setup: creating Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || wine wineboot --init >/dev/null 2>&1
        wineserver -w
        # Windows, dialogs and list boxes with no display.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.dravik-ready"
    fi
}

install_missing
if [ "${1:-}" = "--packages-only" ]; then exit 0; fi
build_win32
prepare_wine
