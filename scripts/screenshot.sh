#!/usr/bin/env bash
# Runs a Windows program on a virtual X display with Wine's X11 graphics driver and saves a
# screenshot: the tests see windows only through the null driver, this shows how they look.
#
#   screenshot.sh [-o FILE.png] [-t TITLE] [-w SECONDS] [-s WIDTHxHEIGHT] PROGRAM [ARGS...]
#
#   -o  the PNG to write (default: build/screenshot.png)
#   -t  wait (at most 30 s) for a top-level window whose title starts with TITLE and capture only
#       that window; without -t the whole screen is captured
#   -w  seconds to let the program draw before the capture (default 2)
#   -s  size of the screen and of the program's Wine desktop (default 800x700)
#
# PROGRAM is a Linux or a Windows path of an .exe. It runs in a Wine desktop of its own whose
# graphics driver is x11, in the usual prefix, whose default null driver is left as it is for the
# tests. At the end the virtual display is stopped, which ends the program and its desktop.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

output="$BUILD/screenshot.png"
title=""
settle=2
size="800x700"
while getopts "o:t:w:s:h" option; do
    case "$option" in
        o) output="$OPTARG" ;;
        t) title="$OPTARG" ;;
        w) settle="$OPTARG" ;;
        s) size="$OPTARG" ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || usage
[[ "$size" =~ ^[0-9]+x[0-9]+$ ]] || { echo "screenshot: size must be WIDTHxHEIGHT" >&2; exit 2; }
for tool in Xvfb import xwininfo; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -d "$WINEPREFIX" ] || { echo "screenshot: no Wine prefix at $WINEPREFIX (run scripts/setup.sh)" >&2; exit 1; }

program="$1"
shift
if [ -f "$program" ]; then
    program="$(winepath -w "$(realpath "$program")" 2>/dev/null)"
fi

work="$(mktemp -d)"
xvfb_pid=""
wine_pid=""
cleanup() {
    # Without its display the program's X11 driver ends the program and its desktop.
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ -n "$wine_pid" ]; then
        for _ in $(seq 50); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$wine_pid" 2>/dev/null || true
        wait "$wine_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" </dev/null >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -dc '0-9' <"$work/display")"

wine explorer "/desktop=screenshot$$,$size,x11" "$program" "$@" </dev/null >"$work/wine.log" 2>&1 &
wine_pid=$!

window="root"
if [ -n "$title" ]; then
    window=""
    for _ in $(seq 300); do
        window="$(xwininfo -root -tree 2>/dev/null |
            awk -v t="$title" 'index($0, "\"" t) { print $1; exit }')"
        [ -n "$window" ] && break
        kill -0 "$wine_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "screenshot: no window titled \"$title\"" >&2; cat "$work/wine.log" >&2; exit 1; }
fi
sleep "$settle"
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "screenshot: $output"
