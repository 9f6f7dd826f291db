#!/usr/bin/env bash
# Virtual null-modem pairs for the serial tests, the benchmark and the device simulator: two
# pseudo-terminals joined by socat, each linked into the Wine prefix as a COM port, so that what
# a program writes to one COM port of a pair arrives on the other.
#
#   nullmodem.sh up   [-p PREFIX] [-d DIR] A B [A B ...]   make pairs COM<A> <-> COM<B>
#   nullmodem.sh down [-p PREFIX] [-d DIR]                 remove every pair made in DIR
#   nullmodem.sh run  [-p PREFIX] [-d DIR] A B [...] -- CMD ...
#                                                          make the pairs, run CMD, remove them
#
# PREFIX defaults to $WINEPREFIX (scripts/env.sh); DIR, where the pty links, pid files and socat
# logs live, defaults to $PREFIX/../rig. The Linux side of COM<N> is DIR/comN.
set -euo pipefail

usage() { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

[ $# -ge 1 ] || usage
cmd="$1"; shift
prefix="${WINEPREFIX:-}"
dir=""
while [ $# -gt 0 ]; do
    case "$1" in
        -p) prefix="$2"; shift 2 ;;
        -d) dir="$2"; shift 2 ;;
        *) break ;;
    esac
done
[ -n "$prefix" ] || { echo "nullmodem: no Wine prefix (-p or WINEPREFIX)" >&2; exit 2; }
[ -n "$dir" ] || dir="$(dirname "$prefix")/rig"
dosdevices="$prefix/dosdevices"

# Kills the socat of one pid file, but only if that pid still is our socat.
stop_pair() {
    local pidfile="$1" pid
    pid="$(cat "$pidfile" 2>/dev/null || true)"
    if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "^socat .*link=$dir/com"; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
}

# Removes a dosdevices link only when it points into our rig directory.
unlink_com() {
    local link="$dosdevices/com$1"
    if [ -L "$link" ] && [[ "$(readlink "$link")" == "$dir/"* ]]; then rm -f "$link"; fi
    rm -f "$dir/com$1"
}

down() {
    [ -d "$dir" ] || return 0
    local pidfile a b
    for pidfile in "$dir"/pair-*.pid; do
        [ -e "$pidfile" ] || continue
        a="${pidfile##*/pair-}"; a="${a%.pid}"; b="${a#*-}"; a="${a%-*}"
        stop_pair "$pidfile"
        unlink_com "$a"; unlink_com "$b"
        rm -f "$dir/pair-$a-$b.log"
    done
}

up_pair() {
    local a="$1" b="$2" pidfile="$dir/pair-$1-$2.pid"
    [ -d "$dosdevices" ] || { echo "nullmodem: $dosdevices missing (run scripts/setup.sh)" >&2; exit 1; }
    stop_pair "$pidfile"
    unlink_com "$a"; unlink_com "$b"
    # Its own session and no inherited descriptors: socat must never hold a caller's pipes.
    setsid socat "pty,raw,echo=0,link=$dir/com$a" "pty,raw,echo=0,link=$dir/com$b" \
        </dev/null >/dev/null 2>"$dir/pair-$a-$b.log" &
    echo $! >"$pidfile"
    for _ in $(seq 100); do
        [ -L "$dir/com$a" ] && [ -L "$dir/com$b" ] && break
        sleep 0.05
    done
    if ! [ -L "$dir/com$a" ] || ! [ -L "$dir/com$b" ]; then
        echo "nullmodem: socat did not create $dir/com$a and $dir/com$b" >&2
        stop_pair "$pidfile"
        exit 1
    fi
    # Wine resolves dosdevices links when a port is opened, so a running wineserver sees them.
    ln -sfn "$dir/com$a" "$dosdevices/com$a"
    ln -sfn "$dir/com$b" "$dosdevices/com$b"
    echo "nullmodem: COM$a ($(readlink "$dir/com$a")) <-> COM$b ($(readlink "$dir/com$b"))"
}

up() {
    [ $# -ge 2 ] && [ $(($# % 2)) -eq 0 ] || usage
    mkdir -p "$dir"
    while [ $# -ge 2 ]; do up_pair "$1" "$2"; shift 2; done
}

case "$cmd" in
    up) up "$@" ;;
    down) down ;;
    run)
        ports=()
        while [ $# -gt 0 ] && [ "$1" != "--" ]; do ports+=("$1"); shift; done
        [ $# -gt 1 ] || usage
        shift
        trap down EXIT
        up "${ports[@]}"
        "$@"
        ;;
    *) usage ;;
esac
