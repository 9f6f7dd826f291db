#!/usr/bin/env bash
# The benchmarks, each a program that prints figures (they are not tests):
#   scripts/bench.sh [protocol|infodriver|serial|driver|flatout|sidebyside|stall|all]   (default: all)
#   protocol    the receive path in memory against the line rate
#   infodriver  UpdateSlot against the stand-in process, next to a bare WM_COPYDATA ping-pong
#   serial      the serial layer through a null-modem pair (throughput, notifications, idle cost,
#               the reader's cost of a line recording, and flat out with first-byte reads and with
#               the interval time-outs the layer had before)
#   driver      the real driver: tally latency at 38400 bit/s on an idle line and behind bulk
#               data, beside the floor measured in the same run, each without and with a line
#               recording; then the same beside the floor program (tally_floor: the least program
#               that publishes a tally with the driver's serial layer and client), the two in turn;
#               then a minute flat out, half of it recorded, for the reader's processor time and the
#               size of a recording (about five minutes)
#   flatout     the real driver flat out for 60 s at 38400 and 115200 bit/s, with every kind of
#               message in equal numbers and with the soak's mix, against the plain stand-in: bytes
#               lost, slots differing, exchanges per message, time to catch up (about six minutes)
#   sidebyside  1, 2 and 4 drivers, each with its own pair and stand-in, flat out at 38400 bit/s
#               for 60 s: lost bytes, differing slots, processor time and tally latency of each
#   stall       the real driver flat out at 38400 and 115200 bit/s while the infodriver stalls for
#               10 s, 60 s and 5 min: bytes lost, slots differing, the time to catch up after the
#               stall, the latency of the first tally after it, the working set idle and after the
#               backlog (about 16 minutes)
# Run them on an otherwise quiet machine: the figures are times.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$ROOT/scripts/setup.sh" >/dev/null

which="${1:-all}"
"$ROOT/scripts/wine-up.sh"
trap '"$ROOT/scripts/nullmodem.sh" down >/dev/null 2>&1 || true; "$ROOT/scripts/wine-down.sh"' EXIT

run() { echo "== $1 =="; shift; "$@" | tr -d '\r'; echo; }
case "$which" in protocol | all) run protocol wine "$BUILD/bench/protocol/protocol_bench.exe" ;; esac
case "$which" in infodriver | all) run infodriver wine "$BUILD/bench/infodriver/infodriver_bench.exe" ;; esac
case "$which" in
    serial | all)
        "$ROOT/scripts/nullmodem.sh" up 7 8 >/dev/null
        run serial wine "$BUILD/bench/serial/serial_bench.exe" 7 8
        "$ROOT/scripts/nullmodem.sh" down >/dev/null ;;
esac
case "$which" in
    driver | all)
        "$ROOT/scripts/nullmodem.sh" up 7 8 >/dev/null
        run driver wine "$BUILD/bench/driver/driver_bench.exe" latency 7 8 500
        run "driver beside the floor program" wine "$BUILD/bench/driver/driver_bench.exe" floor 7 8 300
        run "driver flat out, half of it recorded" wine "$BUILD/bench/driver/driver_bench.exe" flatout 7 8 77 60 --record
        "$ROOT/scripts/nullmodem.sh" down >/dev/null ;;
esac
case "$which" in
    flatout | all)
        for speed in 38400 115200; do
            for mix in 1,1,1,1,1,1,1,0 5,5,20,40,800,60,60,10; do
                echo "== flat out at $speed bit/s, mix $mix =="
                "$ROOT/scripts/soak.sh" 1 --speed "$speed" --mix "$mix" --delay-us 0 | grep -v "^== " || true
                echo
            done
        done ;;
esac
case "$which" in
    stall | all)
        "$ROOT/scripts/nullmodem.sh" up 7 8 >/dev/null
        for speed in 38400 115200; do
            for seconds in 10 60 300; do
                run "stall of $seconds s at $speed bit/s" wine "$BUILD/bench/stall/stall_bench.exe" 7 8 "$speed" "$seconds"
            done
        done
        "$ROOT/scripts/nullmodem.sh" down >/dev/null ;;
esac
case "$which" in
    sidebyside | all)
        for drivers in 1 2 4; do
            echo "== $drivers side by side =="
            pairs=()
            for ((i = 0; i < drivers; i++)); do pairs+=($((13 + 2 * i)) $((14 + 2 * i))); done
            "$ROOT/scripts/nullmodem.sh" up "${pairs[@]}" >/dev/null
            pids=()
            for ((i = 0; i < drivers; i++)); do
                wine "$BUILD/bench/driver/driver_bench.exe" flatout $((13 + 2 * i)) $((14 + 2 * i)) $((81 + i)) 60 \
                    </dev/null >"$BUILD/sidebyside-$i.txt" 2>&1 &
                pids+=($!)
            done
            for pid in "${pids[@]}"; do wait "$pid" || true; done
            for ((i = 0; i < drivers; i++)); do tr -d '\r' <"$BUILD/sidebyside-$i.txt"; done
            "$ROOT/scripts/nullmodem.sh" down >/dev/null
            echo
        done ;;
esac
