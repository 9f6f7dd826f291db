#!/usr/bin/env bash
# The demonstration: the real driver, dravik.exe, for device 7 on a virtual display.
#
# The infodriver stand-in and the driver run in one Wine desktop with the x11 graphics driver on
# Xvfb (windows reach each other only within a desktop). The driver's settings point it at COM3,
# one end of a virtual null-modem pair; the device simulator plays the bundled show into COM4.
# What the stand-in receives is printed as it happens: tallies first and prominently, the other
# slot writes compactly, one line per burst. The driver records its line while the show plays
# (Debug, Record line), its window is restored and photographed while tallies are lit (red), and a
# summary closes the run.
#
# Left behind in build/demo/:
#   driver.png                          the driver's window during the show
#   site/logs/Dravik_007.log            the driver's log file (LogMode=1)
#   site/logs/Dravik_007_*.rec          the recording of the line (devsim info/play/print)
#   site/config/system/DEV_007.ini      its settings file (CC_ROOT=build/demo, CC_SYSTEM=site)
#   standin.log                         every event line of the infodriver stand-in
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$ROOT/scripts/setup.sh"

DEVICE=7
DRIVER_PORT=3 # COM5 and COM6 belong to the tests' rig
DEVICE_PORT=4
SHOW="$ROOT/tools/devsim/scenarios/show.txt"
DEMO="$BUILD/demo"
SITE="$DEMO/site"
INI="$SITE/config/system/DEV_007.ini"
LOG="$SITE/logs/Dravik_007.log"
SHOT="$DEMO/driver.png"
RAW="$DEMO/standin.log"
TITLE="Dravik_007 "
SCREEN=800x700
DESKTOP="dravikdemo$$"
WINDOW_EXE="$BUILD/tools/window/window.exe"
DEVSIM_EXE="$BUILD/tools/devsim/devsim.exe"
RECORD_COMMAND=32777 # Debug, Record line

for tool in Xvfb import convert socat; do
    command -v "$tool" >/dev/null || { echo "demo: $tool missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

# Paths as the demonstration prints them: relative to the checkout.
shown() { echo "${1#"$ROOT"/}"; }

# Bold, green and dim only on a terminal.
if [ -t 1 ]; then
    BOLD=$'\e[1m' ON=$'\e[1;32m' OFF=$'\e[2m' PLAIN=$'\e[0m'
else
    BOLD="" ON="" OFF="" PLAIN=""
fi

rm -rf "$SITE" "$SHOT" "$RAW" "$DEMO"/*.err "$DEMO"/*.fifo
mkdir -p "$SITE/config/system" "$SITE/logs"

# ---------------------------------------------------------------------------------------------
# Everything started here is recorded by process id and stopped on the way out, however it ends.
XVFB=""
STANDIN_LAUNCHER=""
DRIVER_LAUNCHER=""
DRIVER_RUNNING=0
FORMATTER=""
FOLLOWER=""
DEVSIM=""
STARTED_WINESERVER=0

stop_pid() {
    local pid="$1"
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    set +e
    # The driver closes by its window, so that its log ends as on a workstation.
    if [ "$DRIVER_RUNNING" = 1 ]; then
        wine "$WINDOW_EXE" --desktop "$DESKTOP" --wait 5 close "$TITLE" >/dev/null 2>&1
    fi
    stop_pid "$DEVSIM"
    # End of input ends the stand-in.
    exec 7>&-
    stop_pid "$FOLLOWER"
    for _ in $(seq 30); do
        [ -n "$FORMATTER" ] && kill -0 "$FORMATTER" 2>/dev/null || break
        sleep 0.1
    done
    stop_pid "$FORMATTER"
    # Without its display whatever still runs in the desktop ends.
    stop_pid "$XVFB"
    stop_pid "$DRIVER_LAUNCHER"
    stop_pid "$STANDIN_LAUNCHER"
    "$ROOT/scripts/nullmodem.sh" down -d "$DEMO/rig" >/dev/null 2>&1
    [ "$STARTED_WINESERVER" = 1 ] && "$ROOT/scripts/wine-down.sh"
    rm -f "$DEMO"/*.fifo "$DEMO/display"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wineserver_running || STARTED_WINESERVER=1
"$ROOT/scripts/wine-up.sh"

# ---------------------------------------------------------------------------------------------
# The stand-in's event lines, as they come: tallies at once, other writes gathered per burst.

# Which message of the device (or part of the driver) a slot belongs to, into KIND: set without a
# subshell, since a show brings hundreds of lines in bursts.
slot_kind() {
    local s=$1
    if ((s >= 1 && s <= 128)); then KIND=tally
    elif ((s >= 201 && s <= 924 && s % 200 >= 1 && s % 200 <= 124)); then KIND="block $((s / 200))"
    elif ((s >= 331 && s <= 944 && (s - 131) % 200 <= 13)); then KIND="output $(((s - 131) / 200))"
    elif ((s >= 951 && s <= 959)); then KIND=short
    elif ((s >= 1001 && s <= 1072)); then KIND="group 1"
    elif ((s >= 1101 && s <= 1172)); then KIND="group 2"
    elif ((s >= 1200 && s <= 1455)); then KIND=names
    elif ((s == 4091 || s == 4092)); then KIND=link
    else KIND=other
    fi
}

format_standin() {
    local line partial="" kind="" items="" zeros=0 count=0 idle=0
    local -A seen=() names=() lit=()
    flush() {
        ((count > 0)) || return 0
        local rest="" plural=s
        ((zeros > 0)) && rest=" ($zeros zero)"
        ((count > 1)) || plural=""
        if [ "$kind" = "tally" ]; then
            printf '        %-9s %3d published off: not lit since the driver started\n' tallies "$count"
        else
            printf '        %-9s %3d slot%s%s%s\n' "$kind" "$count" "$plural" "${items:+:}$items" "$rest"
        fi
        kind="" items="" zeros=0 count=0
    }
    while :; do
        if IFS= read -r -t 0.3 line; then
            line="$partial${line%$'\r'}"
            partial=""
        else
            (($? > 128)) || break
            partial+="$line"
            flush
            continue
        fi
        printf '%s\n' "$line" >>"$RAW"
        local -a field=()
        read -r -a field <<<"$line"
        case "${field[0]:-}" in
            ready) printf 'stand-in  infodriver %s ready\n' "${field[1]}" ;;
            attach) flush; printf 'stand-in  the driver attached\n' ;;
            detach) flush; printf 'stand-in  the driver detached\n' ;;
            bye) flush; break ;;
            write)
                local slot="${field[1]}" text="${line#write * * * }" k
                slot_kind "$slot"
                k="$KIND"
                if [ "$k" = tally ]; then
                    local name="${names[$slot]:-}"
                    if [ "$text" = 1 ]; then
                        flush
                        lit[$slot]=1
                        printf '%s  >>> TALLY %3d on    %s%s\n' "$ON" "$slot" "$name" "$PLAIN"
                        continue
                    elif [ -n "${lit[$slot]:-}" ]; then
                        flush
                        unset "lit[$slot]"
                        printf '%s      TALLY %3d off   %s%s\n' "$OFF" "$slot" "$name" "$PLAIN"
                        continue
                    fi
                fi
                [ "$k" = "$kind" ] || flush
                kind="$k"
                count=$((count + 1))
                if [ "$k" = names ]; then
                    names[$((slot - 1200))]="$text"
                    items+=" $slot=\"$text\""
                elif [ "$k" != tally ] && { [ "$text" != 0 ] || [ -n "${seen[$slot]:-}" ]; }; then
                    items+=" $slot=${text:-\"\"}"
                else
                    zeros=$((zeros + 1))
                fi
                seen[$slot]=1
                ;;
        esac
    done
    flush
}

# ---------------------------------------------------------------------------------------------
echo
echo "${BOLD}=== The Dravik driver for device $DEVICE, fed by the device simulator ===${PLAIN}"

# A virtual display of our own; Xvfb picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 "${SCREEN}x24" -nolisten tcp 3>"$DEMO/display" </dev/null >"$DEMO/xvfb.err" 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$DEMO/display" ] && break; sleep 0.05; done
[ -s "$DEMO/display" ] || { echo "demo: Xvfb did not start" >&2; cat "$DEMO/xvfb.err" >&2; exit 1; }
export DISPLAY=":$(tr -dc '0-9' <"$DEMO/display")"

"$ROOT/scripts/nullmodem.sh" up -d "$DEMO/rig" "$DRIVER_PORT" "$DEVICE_PORT" | sed 's/^nullmodem: /null-modem /'

# The stand-in: commands through one fifo, events through another into the formatter. It starts
# the Wine desktop; Wine hands explorer's standard handles on to the program.
mkfifo "$DEMO/standin-in.fifo" "$DEMO/standin-out.fifo"
format_standin <"$DEMO/standin-out.fifo" &
FORMATTER=$!
wine explorer "/desktop=$DESKTOP,$SCREEN,x11" "$(winepath -w "$BUILD/tools/standin/standin.exe")" "$DEVICE" \
    <"$DEMO/standin-in.fifo" >"$DEMO/standin-out.fifo" 2>"$DEMO/standin.err" &
STANDIN_LAUNCHER=$!
exec 7>"$DEMO/standin-in.fifo"
for _ in $(seq 300); do grep -q '^ready ' "$RAW" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready ' "$RAW" 2>/dev/null || { echo "demo: the stand-in did not start" >&2; cat "$DEMO/standin.err" >&2; exit 1; }

# The settings file where the driver looks for it under CC_ROOT and CC_SYSTEM; the driver writes
# back every key it reads, so the file shows the whole set afterwards.
printf '[Dravik]\r\nLogMode=1\r\nDebugMode=1\r\nPort=%d\r\nSpeed=38400\r\n' "$DRIVER_PORT" >"$INI"
echo "settings  $(shown "$INI"): LogMode=1, DebugMode=1, Port=$DRIVER_PORT, Speed=38400"

tail -s 0.2 -n +1 -F "$LOG" 2>/dev/null > >(sed -u -e 's/\r$//' -e 's/^/driver    log: /') &
FOLLOWER=$!

# The driver joins the stand-in's desktop.
CC_ROOT="$(winepath -w "$DEMO")" CC_SYSTEM=site \
    wine explorer "/desktop=$DESKTOP,$SCREEN,x11" "$(winepath -w "$BUILD/driver/dravik.exe")" "$DEVICE" \
    </dev/null >"$DEMO/driver.err" 2>&1 &
DRIVER_LAUNCHER=$!
DRIVER_RUNNING=1
window() { wine "$WINDOW_EXE" --desktop "$DESKTOP" "$@"; }
window --wait 30 wait "$TITLE" >/dev/null || { echo "demo: the driver's window did not appear" >&2; exit 1; }
# It starts minimised, as on a workstation.
read -r WIN_X WIN_Y WIN_W WIN_H < <(window restore "$TITLE") || true
[ -n "${WIN_H:-}" ] || { echo "demo: the driver's window stayed minimised" >&2; exit 1; }
sleep 0.5
grep -q "Open serial port $DRIVER_PORT success" "$LOG" ||
    { echo "demo: the driver did not open COM$DRIVER_PORT" >&2; exit 1; }
echo "driver    window restored: ${WIN_W}x${WIN_H} at ($WIN_X,$WIN_Y)"

# Debug, Record line, as a site engineer would choose it.
window command "$TITLE" "$RECORD_COMMAND" >/dev/null
for _ in $(seq 50); do grep -q 'Recording the line to ' "$LOG" && break; sleep 0.1; done
RECORDING_WIN="$(sed -n 's/.*Recording the line to \(.*\.rec\).*/\1/p' "$LOG" | tail -1)"
[ -n "$RECORDING_WIN" ] || { echo "demo: the driver did not start recording" >&2; exit 1; }
RECORDING="$(winepath -u "$RECORDING_WIN" 2>/dev/null)"

echo
echo "${BOLD}--- The show: the simulator's notes, then what the stand-in receives ---${PLAIN}"
wine "$BUILD/tools/devsim/devsim.exe" --port "$DEVICE_PORT" play "$SHOW" \
    > >(sed -u -e 's/\r$//' -e 's/^devsim: playing .*/show      &/' -e 's/^ *\([0-9.]* s\) /show  \1/' \
        -e 's/^devsim: sent/show      devsim: sent/' | tee "$DEMO/devsim.out") 2>"$DEMO/devsim.err" &
DEVSIM=$!

# The photograph: a second after the DVE re-entry lights its sources (tallies 89, 2 and 6).
for _ in $(seq 400); do
    grep -q '^write 89 2726 [^ ]* 1$' "$RAW" 2>/dev/null && break
    kill -0 "$DEVSIM" 2>/dev/null || break
    sleep 0.1
done
sleep 1
import -window root -crop "${WIN_W}x${WIN_H}+${WIN_X}+${WIN_Y}" +repage "$SHOT"
echo "${BOLD}photo     $(shown "$SHOT")${PLAIN}"

wait "$DEVSIM" || { echo "demo: the simulator failed" >&2; cat "$DEMO/devsim.err" >&2; exit 1; }
DEVSIM=""
sleep 1.5

# The recording stopped; the driver reports it complete within its next tick.
window command "$TITLE" "$RECORD_COMMAND" >/dev/null
for _ in $(seq 50); do grep -q 'Line recording complete: ' "$LOG" && break; sleep 0.1; done

# The driver's own counters, from its status panel, before it closes.
declare -A PANEL=()
while read -r id text; do PANEL[$id]="$text"; done < <(window text "$TITLE" 2001 2007 2008)
window close "$TITLE" >/dev/null || echo "demo: the driver did not close" >&2
DRIVER_RUNNING=0
echo "quit" >&7
exec 7>&-
wait "$FORMATTER" || true
FORMATTER=""
sleep 0.3
stop_pid "$FOLLOWER"
FOLLOWER=""

# ---------------------------------------------------------------------------------------------
echo
echo "${BOLD}=== Summary ===${PLAIN}"
SENT="$(sed -n 's/.*devsim: sent \([0-9]*\) messages.*/\1/p' "$DEMO/devsim.out")"
printf '  %-14s %s sent by the simulator; %d framed by the driver (its serial Rx counter)\n' \
    messages "${SENT:-?}" "$((10#${PANEL[2008]:-0}))"
awk -v tx="$((10#${PANEL[2007]:-0}))" '
    $1 == "write" { writes++; if (!($2 in slots)) { slots[$2] = 1; distinct++ } }
    END { printf "  %-14s %d received by the stand-in, in %d distinct slots (the driver counted %d)\n",
                 "slot writes", writes, distinct, tx }' "$RAW"
awk '
    $1 != "write" { next }
    { text = $0; sub(/^write [^ ]+ [^ ]+ [^ ]+ /, "", text) }
    $2 >= 1201 && $2 <= 1328 { name[$2 - 1200] = text }
    $2 >= 1 && $2 <= 128 && text == "1" && !($2 in ever) { ever[$2] = 1; order[++n] = $2 }
    $2 >= 1 && $2 <= 128 { now[$2] = text }
    END {
        line = ""
        for (i = 1; i <= n; i++) line = line (i > 1 ? ", " : "") order[i] " " name[order[i]]
        printf "  %-14s %d, in the order first lit: %s\n", "tallies lit", n, line
        line = ""
        for (t = 1; t <= 128; t++) if (now[t] == "1") line = line (line != "" ? ", " : "") t " " name[t]
        printf "  %-14s %s\n", "lit at the end", line == "" ? "none" : line
    }' "$RAW"
FAILS="$(grep -c 'COMMS FAIL' "$LOG" || true)"
RESTORES="$(grep -c 'Comms restored' "$LOG" || true)"
LINK_SLOT="$(awk '$1 == "write" && $2 == 4091 { v = v (v != "" ? "," : "") $5 } END { print v }' "$RAW")"
printf '  %-14s %d failure(s) and %d restoration(s) in the log (the first when the first message came);\n' \
    link "$FAILS" "$RESTORES"
printf '  %-14s slot 4091 went %s; the panel showed "%s" at the end\n' "" "$LINK_SLOT" "${PANEL[2001]:-?}"
declare -A REC=()
if [ -f "$RECORDING" ]; then
    while read -r key value; do REC[$key]="$value"; done < <(wine "$DEVSIM_EXE" info "$RECORDING_WIN" 2>/dev/null | tr -d '\r')
fi
printf '  %-14s %s, %s long: the line'"'"'s %s, %s lost; complete: %s\n' recording "${REC[file]:-?}" \
    "${REC[duration]:-?}" "${REC[line]:-?}" "${REC[lost]:-?}" "${REC[complete]:-no}"
printf '  %-14s devsim --port N play %s   (--rate 4: four times as fast, --rate max: flat out)\n' \
    "" "$(shown "$RECORDING")"
printf '  %-14s %s\n' screenshot "$(shown "$SHOT")" "log file" "$(shown "$LOG")" settings "$(shown "$INI")" \
    "stand-in" "$(shown "$RAW")"
