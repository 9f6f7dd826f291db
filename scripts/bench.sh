#!/usr/bin/env bash
# The benchmarks, each a program that prints figures (they are not tests):
#   scripts/bench.sh [protocol|infodriver|serial|driver|all]   (default: all)
#   protocol    the receive path in memory against the line rate
#   infodriver  UpdateSlot against the stand-in process, next to a bare WM_COPYDATA ping-pong
#   serial      the serial layer through a null-modem pair (throughput, notifications, idle cost,
#               the reader's cost of a line recording)
#   driver      the real driver: tally latency at 38400 bit/s, and the show flat out at 38400 and
#               115200 bit/s, each without and with a line recording (about ten minutes)
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
        run driver wine "$BUILD/bench/driver/driver_bench.exe" 7 8 1000 30
        "$ROOT/scripts/nullmodem.sh" down >/dev/null ;;
esac
