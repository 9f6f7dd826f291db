#!/usr/bin/env bash
# scripts/soak.sh [MINUTES] [--speed BITS] [--mix W,...] [--delay-us US] [--stall AT:MS]: the real
# driver under a long stream (default 10 minutes; fractions such as 0.5 allowed).
#
# The infodriver stand-in and dravik.exe for device 76 run under Wine; the driver reads COM11 of a
# null-modem pair made here, and build/tests/app/driver_soak.exe writes a seeded random stream of
# every kind of message (values from small sets, mostly repeats, some garbage) into COM12 at the
# full line rate (--speed, 38400 bit/s by default). The stand-in answers every exchange after
# --delay-us (3000 us by default: slower than any machine here, so that a pass proves the driver
# keeps up with a slow infodriver whatever the machine's own speed). Afterwards every slot of the
# stand-in must equal an in-memory decoding of the recorded stream, the log must report no lost
# bytes, and the driver's memory and handle count, taken from outside after a warm-up and at the
# end, must not have grown.
#
# Prints the seed, duration, bytes, messages, exchanges, mismatches, memory and handles at start
# and end. The exact bytes are kept in build/soak/stream-<seed>.bin (tools/replay plays them
# through the protocol core); DRAVIK_SOAK_SEED=<seed> plays the same stream again. --mix (or
# DRAVIK_SOAK_MIX) sets the weights of block, group, short, output, text, marker, trigger and
# garbage; 1,1,1,1,1,1,1,0 is every kind of message in equal numbers. --stall AT:MS stalls the
# infodriver for MS milliseconds once the stream has run AT seconds, while the line goes on: the
# bytes wait in the driver's receive queue, none may be lost, and the log must name the stall.
# Exits non-zero on a failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
usage() {
    echo "usage: scripts/soak.sh [MINUTES] [--speed BITS] [--mix W,...] [--delay-us US] [--stall AT:MS]" >&2
    exit 2
}
MINUTES=10
SPEED=38400
DELAY_US=3000
MIX="${DRAVIK_SOAK_MIX:-}"
STALL=""
if [ $# -gt 0 ] && [[ "$1" != --* ]]; then
    MINUTES="$1"
    shift
fi
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
        --speed) SPEED="$2" ;;
        --mix) MIX="$2" ;;
        --delay-us) DELAY_US="$2" ;;
        --stall) STALL="$2" ;;
        *) usage ;;
    esac
    shift 2
done
if ! [[ "$MINUTES" =~ ^[0-9]+([.][0-9]+)?$ ]] || ! awk -v m="$MINUTES" 'BEGIN { exit !(m > 0) }' ||
    ! [[ "$SPEED" =~ ^[0-9]+$ ]] || ! [[ "$DELAY_US" =~ ^[0-9]+$ ]] ||
    { [ -n "$STALL" ] && ! [[ "$STALL" =~ ^[0-9]+:[0-9]+$ ]]; }; then
    usage
fi
RUN_SECONDS=$(awk -v m="$MINUTES" 'BEGIN { s = int(m * 60 + 0.5); print (s < 1 ? 1 : s) }')
DRIVER_PORT=11 # COM5/6 belong to the tests' rig, COM7/8 to the benchmarks, COM9/10 to port_recovery_tests
DEVICE_PORT=12
SOAK="$BUILD/soak"

"$ROOT/scripts/setup.sh"
mkdir -p "$SOAK"
rm -f "$SOAK"/stream-*.bin

STARTED_WINESERVER=0
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    set +e
    "$ROOT/scripts/nullmodem.sh" down -d "$SOAK/rig" >/dev/null 2>&1
    [ "$STARTED_WINESERVER" = 1 ] && "$ROOT/scripts/wine-down.sh"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wineserver_running || STARTED_WINESERVER=1
"$ROOT/scripts/wine-up.sh"
"$ROOT/scripts/nullmodem.sh" up -d "$SOAK/rig" "$DRIVER_PORT" "$DEVICE_PORT" >/dev/null

echo "== soak: the driver for $RUN_SECONDS s at the full line rate of $SPEED bit/s, the infodriver $DELAY_US us an exchange =="
EXTRA_ARGS=()
[ -n "${DRAVIK_SOAK_SEED:-}" ] && EXTRA_ARGS+=(--seed "$DRAVIK_SOAK_SEED")
[ -n "$MIX" ] && EXTRA_ARGS+=(--mix "$MIX")
[ -n "$STALL" ] && EXTRA_ARGS+=(--stall-at "${STALL%%:*}" --stall-ms "${STALL##*:}")
wine "$BUILD/tests/app/driver_soak.exe" --seconds "$RUN_SECONDS" --driver-port "$DRIVER_PORT" \
    --device-port "$DEVICE_PORT" --out "$(winepath -w "$SOAK")" --speed "$SPEED" --delay-us "$DELAY_US" \
    "${EXTRA_ARGS[@]}" </dev/null 2>&1 | sed -u 's/\r$//'
exit "${PIPESTATUS[0]}"
