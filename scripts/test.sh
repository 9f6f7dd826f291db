#!/usr/bin/env bash
# The whole test run: set-up, the protocol core built natively with sanitizers and tested, a minute
# of fuzzing of the protocol core and the recording reader, every Win32 test executable under one
# persistent wineserver, then the real driver under three soaks against an infodriver slowed to
# 3 ms an exchange: a minute of the soak's mix at 38400 bit/s, a minute of every kind of message
# in equal numbers flat out at 115200 bit/s, and the same minute with the infodriver stalled for
# 30 s in the middle of it (DRAVIK_SOAK_MINUTES sets their length; the stall stays in the middle).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$ROOT/scripts/setup.sh"

echo "== native build of the protocol core (sanitizers) =="
if [ ! -f "$NATIVE_BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDRAVIK_SANITIZE=ON
fi
cmake --build "$NATIVE_BUILD"
ctest --test-dir "$NATIVE_BUILD" --output-on-failure

"$ROOT/scripts/fuzz.sh" "${DRAVIK_FUZZ_SECONDS:-60}"

echo "== Win32 tests under Wine =="
"$ROOT/scripts/wine-up.sh"
trap '"$ROOT/scripts/wine-down.sh"' EXIT
ctest --test-dir "$BUILD" --output-on-failure --timeout 600

"$ROOT/scripts/soak.sh" "${DRAVIK_SOAK_MINUTES:-1}" --delay-us 3000
"$ROOT/scripts/soak.sh" "${DRAVIK_SOAK_MINUTES:-1}" --delay-us 3000 --speed 115200 --mix 1,1,1,1,1,1,1,0
STALL_AT=$(awk -v m="${DRAVIK_SOAK_MINUTES:-1}" 'BEGIN { s = int(m * 60 / 2 - 15); print (s < 0 ? 0 : s) }')
"$ROOT/scripts/soak.sh" "${DRAVIK_SOAK_MINUTES:-1}" --delay-us 3000 --speed 115200 --mix 1,1,1,1,1,1,1,0 \
    --stall "$STALL_AT:30000"
