#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]: the protocol core under libFuzzer for SECONDS (default 600).
# Installs what is missing, builds build-fuzz/ with clang, makes the seed corpus from the bundled
# stream and scenario, fuzzes, and prints executions, run time, corpus, coverage and findings.
# Exits non-zero on a finding; the input that found it is kept in build-fuzz/findings/. The
# corpus the fuzzer grows is kept in build-fuzz/corpus/ for the next run. Every run starts with
# the inputs in tests/fuzz/regressions/: findings once made, kept so they are never made again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
RUN_SECONDS="${1:-600}"
if ! [[ "$RUN_SECONDS" =~ ^[0-9]+$ ]] || [ "$RUN_SECONDS" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2
    exit 2
fi

"$ROOT/scripts/setup.sh" --packages-only

echo "== fuzz build of the protocol core (clang, libFuzzer, sanitizers) =="
if [ ! -f "$FUZZ_BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DDRAVIK_FUZZ=ON
fi
cmake --build "$FUZZ_BUILD"

SEEDS="$FUZZ_BUILD/seeds"
CORPUS="$FUZZ_BUILD/corpus"
FINDINGS="$FUZZ_BUILD/findings"
LOG="$FUZZ_BUILD/fuzz.log"
rm -rf "$SEEDS" "$FINDINGS"
mkdir -p "$SEEDS" "$CORPUS" "$FINDINGS"
"$FUZZ_BUILD/tests/fuzz/fuzz_seeds" "$ROOT/tools/replay/show.hex" "$ROOT/tools/devsim/scenarios/show.txt" "$SEEDS"

echo "== fuzzing for $RUN_SECONDS s (log: $LOG) =="
started=$(date +%s)
set +e
"$FUZZ_BUILD/tests/fuzz/protocol_fuzz" -max_len=4096 -max_total_time="$RUN_SECONDS" -timeout=30 \
    -print_final_stats=1 -dict="$ROOT/tests/fuzz/protocol.dict" -artifact_prefix="$FINDINGS/" \
    "$CORPUS" "$SEEDS" "$ROOT/tests/fuzz/regressions" >"$LOG" 2>&1
status=$?
set -e
elapsed=$(( $(date +%s) - started ))

stat() { sed -n "s/^stat::$1: *//p" "$LOG" | tail -n 1; }
last=$(grep -E '^#[0-9]+' "$LOG" | tail -n 1 || true)
echo "executions:   $(stat number_of_executed_units)"
echo "run time:     ${elapsed} s"
echo "exec/s:       $(stat average_exec_per_sec)"
echo "corpus:       $(find "$CORPUS" -type f | wc -l) inputs in $CORPUS (seeds: $(find "$SEEDS" -type f | wc -l))"
echo "coverage:     $(sed -nE 's/.*(cov: [0-9]+ ft: [0-9]+).*/\1/p' <<<"$last")"
echo "new units:    $(stat new_units_added), peak rss $(stat peak_rss_mb) MB"
findings=$(find "$FINDINGS" -type f | wc -l)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "findings:     $findings (libFuzzer exit $status)"
    find "$FINDINGS" -type f -printf '  %p\n'
    echo "---- end of the log ----"
    tail -n 40 "$LOG"
    echo "Reproduce: $FUZZ_BUILD/tests/fuzz/protocol_fuzz <finding file>"
    exit 1
fi
echo "findings:     none"
