#!/usr/bin/env bash
# The demonstration, in three acts:
#  1. the bundled device stream through the protocol core alone: every slot write and, after each
#     tally trigger, the lit tallies;
#  2. the same stream published through the driver's infodriver client into the infodriver
#     stand-in, a separate process; then what the stand-in holds;
#  3. a short show played by the device simulator down a virtual null-modem line (COM6 -> COM5),
#     received by the driver's receive road (reader thread, receive queue, protocol core,
#     infodriver client) and published into the stand-in; then what the stand-in holds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$ROOT/scripts/setup.sh"

DEVICE=1
DRIVER_PORT=5
DEVICE_PORT=6
STREAM="$ROOT/tools/replay/show.hex"
SHOW="$ROOT/tools/devsim/scenarios/show.txt"
WORK="$BUILD/demo"
mkdir -p "$WORK"

cleanup() {
    exec 7>&- 2>/dev/null || true
    "$ROOT/scripts/nullmodem.sh" down >/dev/null 2>&1 || true
    "$ROOT/scripts/wine-down.sh"
    rm -f "$WORK/standin.in"
}
trap cleanup EXIT
"$ROOT/scripts/wine-up.sh"

# The stand-in reads its commands from a pipe kept open on descriptor 7.
start_standin() {
    rm -f "$WORK/standin.in"
    mkfifo "$WORK/standin.in"
    wine "$BUILD/tools/standin/standin.exe" -q "$DEVICE" <"$WORK/standin.in" >"$WORK/standin.out" 2>&1 &
    STANDIN=$!
    exec 7>"$WORK/standin.in"
}

stop_standin() {
    echo "quit" >&7
    exec 7>&-
    wait "$STANDIN" || true
}

# The stand-in's events and slots, with the tally slots folded into one line.
show_standin() {
    tr -d '\r' <"$WORK/standin.out" | awk '
        $1 == "slot" { n = $2 + 0 }
        $1 == "slot" && n >= 1 && n <= 128 { if ($3 == "1") lit = lit " " n; next }
        $1 == "slot" && ((n >= 331 && n <= 344) || (n >= 1200 && n <= 1455) || n >= 4089) { print; next }
        $1 == "slot" { other++; next }
        $1 == "dump-end" {
            print "(and " other + 0 " slots of block, group and short messages)"
            print "lit tallies:" lit; print; next }
        $1 == "attach" || $1 == "detach" || $1 == "driver-state" || $1 == "sent" { print }'
}

echo
echo "=== 1. The bundled device stream through the protocol core ==="
wine "$BUILD/tools/replay/replay.exe" "$STREAM" | tr -d '\r'

echo
echo "=== 2. The same stream published into the infodriver stand-in, a separate process ==="
start_standin
wine "$BUILD/tools/publish/publish.exe" "$DEVICE" "$STREAM" | tr -d '\r'
echo "dump" >&7
stop_standin
show_standin

echo
echo "=== 3. A show on a virtual serial line, through the receive road into the stand-in ==="
"$ROOT/scripts/nullmodem.sh" up "$DRIVER_PORT" "$DEVICE_PORT"
start_standin
wine "$BUILD/tools/listen/listen.exe" "$DEVICE" "$DRIVER_PORT" 38400 >"$WORK/listen.out" 2>&1 &
LISTEN=$!
# The receive road attaches and opens its port before the device starts talking.
for _ in $(seq 100); do grep -q "^listen: COM" "$WORK/listen.out" 2>/dev/null && break; sleep 0.1; done
wine "$BUILD/tools/devsim/devsim.exe" --port "$DEVICE_PORT" play "$SHOW" | tr -d '\r'
sleep 1.5
# What the stand-in holds, then the infodriver's disconnect, which ends the receive road.
echo "dump" >&7
echo "send 2175" >&7
wait "$LISTEN" || true
stop_standin

echo
echo "--- the receive road: debug lines and counts ---"
tr -d '\r' <"$WORK/listen.out"
echo
echo "--- the infodriver stand-in ---"
show_standin
