#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]: the fuzz targets under libFuzzer for SECONDS in all (default 600): the
# protocol core for five sixths of them, the line recording's reader for the rest.
# Installs what is missing, builds build-fuzz/ with clang, makes the seed corpora from the bundled
# stream and scenario, fuzzes, and prints per target executions, run time, corpus, coverage and
# findings. Exits non-zero on a finding; the input that found it is kept in
# build-fuzz/findings/TARGET/. The corpus each target grows is kept in build-fuzz/corpus/TARGET/ for
# the next run. Every run starts with the inputs in tests/fuzz/regressions/TARGET/: findings once
# made, kept so they are never made again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
RUN_SECONDS="${1:-600}"
if ! [[ "$RUN_SECONDS" =~ ^[0-9]+$ ]] || [ "$RUN_SECONDS" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2
    exit 2
fi
RECORDING_SECONDS=$(( RUN_SECONDS / 6 > 0 ? RUN_SECONDS / 6 : 1 ))
PROTOCOL_SECONDS=$(( RUN_SECONDS - RECORDING_SECONDS > 0 ? RUN_SECONDS - RECORDING_SECONDS : 1 ))

"$ROOT/scripts/setup.sh" --packages-only

echo "== fuzz build of the protocol core and the recording reader (clang, libFuzzer, sanitizers) =="
if [ ! -f "$FUZZ_BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DDRAVIK_FUZZ=ON
fi
cmake --build "$FUZZ_BUILD"

SEEDS="$FUZZ_BUILD/seeds"
rm -rf "$SEEDS" "$FUZZ_BUILD/findings"
mkdir -p "$SEEDS/protocol" "$SEEDS/recording"
"$FUZZ_BUILD/tests/fuzz/fuzz_seeds" "$ROOT/tools/replay/show.hex" "$ROOT/tools/devsim/scenarios/show.txt" \
    "$SEEDS/protocol" "$SEEDS/recording"

# fuzz TARGET SECONDS [libFuzzer options]: one target; its summary, and 1 on a finding.
fuzz() {
    local target="$1" seconds="$2"
    shift 2
    local corpus="$FUZZ_BUILD/corpus/$target" findings="$FUZZ_BUILD/findings/$target"
    local log="$FUZZ_BUILD/fuzz-$target.log"
    mkdir -p "$corpus" "$findings"
    echo "== fuzzing the $target target for $seconds s (log: $log) =="
    local started status elapsed
    started=$(date +%s)
    set +e
    "$FUZZ_BUILD/tests/fuzz/${target}_fuzz" -max_len=4096 -max_total_time="$seconds" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$@" \
        "$corpus" "$SEEDS/$target" "$ROOT/tests/fuzz/regressions/$target" >"$log" 2>&1
    status=$?
    set -e
    elapsed=$(( $(date +%s) - started ))

    final() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
    local last
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    echo "executions:   $(final number_of_executed_units)"
    echo "run time:     ${elapsed} s"
    echo "exec/s:       $(final average_exec_per_sec)"
    echo "corpus:       $(find "$corpus" -type f | wc -l) inputs in $corpus" \
        "(seeds: $(find "$SEEDS/$target" -type f | wc -l))"
    echo "coverage:     $(sed -nE 's/.*(cov: [0-9]+ ft: [0-9]+).*/\1/p' <<<"$last")"
    echo "new units:    $(final new_units_added), peak rss $(final peak_rss_mb) MB"
    local found
    found=$(find "$findings" -type f | wc -l)
    if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
        echo "findings:     $found (libFuzzer exit $status)"
        find "$findings" -type f -printf '  %p\n'
        echo "---- end of the log ----"
        tail -n 40 "$log"
        echo "Reproduce: $FUZZ_BUILD/tests/fuzz/${target}_fuzz <finding file>"
        return 1
    fi
    echo "findings:     none"
}

failed=0
fuzz protocol "$PROTOCOL_SECONDS" -dict="$ROOT/tests/fuzz/protocol.dict" || failed=1
fuzz recording "$RECORDING_SECONDS" || failed=1
exit "$failed"
