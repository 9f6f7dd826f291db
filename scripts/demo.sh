#!/usr/bin/env bash
# The demonstration, in two acts:
#  1. the bundled device stream through the protocol core alone: every slot write and, after each
#     tally trigger, the lit tallies;
#  2. a short show played by the device simulator down a virtual null-modem line (COM6 -> COM5),
#     received by the driver's receive road (reader thread, protocol core, infodriver client) and
#     published into the infodriver stand-in, a separate process; then what the stand-in holds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$ROOT/scripts/setup.sh"

DEVICE=1
DRIVER_PORT=5
DEVICE_PORT=6
WORK="$BUILD/demo"
mkdir -p "$WORK"
rm -f "$WORK/standin.in"
mkfifo "$WORK/standin.in"

cleanup() {
    exec 7>&- 2>/dev/null || true
    "$ROOT/scripts/nullmodem.sh" down >/dev/null 2>&1 || true
    "$ROOT/scripts/wine-down.sh"
    rm -f "$WORK/standin.in"
}
trap cleanup EXIT
"$ROOT/scripts/wine-up.sh"

echo
echo "=== 1. The bundled device stream through the protocol core ==="
wine "$BUILD/tools/replay/replay.exe" "$ROOT/tools/replay/show.hex" | tr -d '\r'

echo
echo "=== 2. A show on a virtual serial line, published into the infodriver stand-in ==="
"$ROOT/scripts/nullmodem.sh" up "$DRIVER_PORT" "$DEVICE_PORT"
wine "$BUILD/tools/standin/standin.exe" -q "$DEVICE" <"$WORK/standin.in" >"$WORK/standin.out" 2>&1 &
STANDIN=$!
exec 7>"$WORK/standin.in"
wine "$BUILD/tools/listen/listen.exe" "$DEVICE" "$DRIVER_PORT" 38400 >"$WORK/listen.out" 2>&1 &
LISTEN=$!
# Give the receive road time to attach and open its port before the device starts talking.
for _ in $(seq 100); do grep -q "^listen: COM" "$WORK/listen.out" 2>/dev/null && break; sleep 0.1; done
wine "$BUILD/tools/devsim/devsim.exe" --port "$DEVICE_PORT" play "$ROOT/tools/devsim/scenarios/show.txt" | tr -d '\r'
sleep 1.5

# What the stand-in holds, then the infodriver's disconnect, which ends the driver side.
echo "dump" >&7
echo "send 2175" >&7
wait "$LISTEN" || true
echo "quit" >&7
exec 7>&-
wait "$STANDIN" || true

echo
echo "--- the receive road (debug lines and counts) ---"
tr -d '\r' <"$WORK/listen.out"
echo
echo "--- the infodriver stand-in: slots it holds ---"
tr -d '\r' <"$WORK/standin.out" | awk '
    $1 == "slot" { n = $2 + 0 }
    $1 == "slot" && n >= 1 && n <= 128 { if ($3 == "1") lit = lit " " n; next }
    $1 == "slot" && ((n >= 331 && n <= 344) || (n >= 1200 && n <= 1455) || n >= 4089) { print; next }
    $1 == "slot" { other++; next }
    $1 == "dump-end" { print "(and " other + 0 " slots of block, group and short messages)"; print "lit tallies:" lit; print; next }
    $1 == "attach" || $1 == "detach" || $1 == "driver-state" || $1 == "sent" { print }'
