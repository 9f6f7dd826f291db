#!/usr/bin/env bash
# The driver's window is drawn, not only created: the real dravik.exe with the infodriver stand-in
# in a Wine desktop of their own on Xvfb (x11 graphics driver), the window restored and
# photographed, and the photograph checked where the window says its controls are: the status
# panel's face, the etched frames of the five group boxes, the sunken edges of the 128 tally
# boxes and of the counters with their digits, text in the debug list, and the lit tallies red
# with white numbers while the unlit ones are not. The tallies are lit through the rig's
# null-modem pair (DRAVIK_RIG_DIR, DRAVIK_RIG_PORTS): the driver reads the first port, the bytes
# are written into the Linux side of the second.
#
#   window_drawn_test.sh DRAVIK_EXE STANDIN_EXE WINDOW_EXE WORK_DIR
#
# Without Xvfb, ImageMagick or the rig the test fails: a skipped check would pass unseen.
set -uo pipefail

[ $# -eq 4 ] || { echo "usage: $0 DRAVIK_EXE STANDIN_EXE WINDOW_EXE WORK_DIR" >&2; exit 2; }
DRAVIK_EXE="$1" STANDIN_EXE="$2" WINDOW_EXE="$3"
for tool in Xvfb import convert identify wine winepath; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
PORTS="${DRAVIK_RIG_PORTS:-}"
DRIVER_PORT="${PORTS%%,*}"
DEVICE_END="${DRAVIK_RIG_DIR:-}/com${PORTS##*,}"
[ -n "$PORTS" ] && [ -e "$DEVICE_END" ] || { echo "FAIL: no null-modem rig (DRAVIK_RIG_DIR, DRAVIK_RIG_PORTS)"; exit 1; }
# Output 1 with tallies 5 and 12 as its roots, then the tally trigger.
LIT_IDS="1010 1017"
LIGHT_TALLIES='\xb1\xb1\x05\x00\x0c\x03\x00\x00\x00\x00\x00\x00\xd2\xd2'

DEVICE=913 # not used by any other test: the driver's mutex is shared by the whole wineserver
TITLE="Dravik_913 "
SCREEN=800x700
DESKTOP="dravikshot$$"
DEADLINE_S=120 # a loaded machine may take long to start Wine programs and to paint
mkdir -p "$4"
WORK="$(mktemp -d "$4/run.XXXXXX")"
KEEP="$4/window_drawn.png"

XVFB=""
LAUNCHER=""
DRIVER_STARTED=0
cleanup() {
    local status=$?
    if [ "$DRIVER_STARTED" = 1 ]; then
        wine "$WINDOW_EXE" --desktop "$DESKTOP" --wait 5 close "$TITLE" >/dev/null 2>&1
    fi
    exec 7>&- # the stand-in ends at the end of its input
    if [ -n "$LAUNCHER" ]; then
        for _ in $(seq 50); do kill -0 "$LAUNCHER" 2>/dev/null || break; sleep 0.1; done
    fi
    # Whatever still runs in the desktop ends with its display.
    if [ -n "$XVFB" ]; then
        kill "$XVFB" 2>/dev/null
        wait "$XVFB" 2>/dev/null
    fi
    if [ -n "$LAUNCHER" ]; then
        kill "$LAUNCHER" 2>/dev/null
        wait "$LAUNCHER" 2>/dev/null
    fi
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "FAIL: $*"
    for log in "$WORK"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -20 "$log"; }
    done
    exit 1
}

Xvfb -displayfd 3 -screen 0 "${SCREEN}x24" -nolisten tcp 3>"$WORK/display" </dev/null >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
for _ in $(seq 200); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(tr -dc '0-9' <"$WORK/display")"

# The stand-in opens the desktop; its commands come through a fifo held open here.
mkfifo "$WORK/standin.in"
wine explorer "/desktop=$DESKTOP,$SCREEN,x11" "$(winepath -w "$STANDIN_EXE")" "$DEVICE" \
    <"$WORK/standin.in" >"$WORK/standin.log" 2>&1 &
LAUNCHER=$!
exec 7>"$WORK/standin.in"
for _ in $(seq 600); do grep -q '^ready ' "$WORK/standin.log" && break; sleep 0.1; done
grep -q '^ready ' "$WORK/standin.log" || fail "the stand-in did not start"

# The debug list is shown and gets lines.
mkdir -p "$WORK/site/config/system" "$WORK/site/logs"
printf '[Dravik]\r\nDebugMode=1\r\nLogMode=0\r\nPort=%d\r\nSpeed=38400\r\n' "$DRIVER_PORT" \
    >"$WORK/site/config/system/DEV_$DEVICE.ini"
DRIVER_STARTED=1
CC_ROOT="$(winepath -w "$WORK")" CC_SYSTEM=site \
    wine explorer "/desktop=$DESKTOP,$SCREEN,x11" "$(winepath -w "$DRAVIK_EXE")" "$DEVICE" \
    </dev/null >"$WORK/driver.log" 2>&1 &

window() { wine "$WINDOW_EXE" --desktop "$DESKTOP" --wait 60 "$@" 2>>"$WORK/window.log"; }
read -r X Y W H < <(window restore "$TITLE") || true
[ -n "${H:-}" ] || fail "the driver's window did not appear or stayed minimised"
window children "$TITLE" >"$WORK/children.txt" || fail "cannot list the window's controls"
printf "$LIGHT_TALLIES" >"$DEVICE_END" || fail "cannot write to $DEVICE_END"
for _ in $(seq 100); do
    [ "$(window text "$TITLE" 1010 | tr -d '\r')" = "1010 5" ] && break
    sleep 0.2
done

# One photograph, checked against the controls' own rectangles (screen = desktop = image).
check_photo() {
    import -window root -crop "${W}x${H}+${X}+${Y}" +repage "$WORK/window.png" 2>>"$WORK/import.log" || return 1
    local colours
    colours="$(identify -format %k "$WORK/window.png" 2>/dev/null)"
    [ "${colours:-0}" -ge 6 ] || { echo "only ${colours:-0} colours in the window: not drawn"; return 1; }
    convert "$WORK/window.png" -depth 8 txt:- | awk -v ox="$X" -v oy="$Y" -v lit="$LIT_IDS" '
        BEGIN { split(lit, litlist, " "); for (k in litlist) islit[litlist[k]] = 1 }
        FNR == NR {
            # id x y w h class visible text
            n++; id[n] = $1; cx[n] = $2 - ox; cy[n] = $3 - oy; cw[n] = $4; ch[n] = $5; cls[n] = $6
            text[n] = $0
            for (k = 1; k <= 7; k++) sub(/^[^ ]+ /, "", text[n])
            next
        }
        /^#/ { next }
        {
            split($1, xy, /[,:]/)
            rgb = $2; gsub(/[()]/, "", rgb); split(rgb, c, ",")
            L[xy[1] "," xy[2]] = int((3 * c[1] + 6 * c[2] + c[3]) / 10)
            if (c[1] > 150 && c[2] < 80 && c[3] < 80) R[xy[1] "," xy[2]] = 1
            if (c[1] > 220 && c[2] > 220 && c[3] > 220) Wh[xy[1] "," xy[2]] = 1
        }
        function shadow(x, y) { return L[x "," y] < face - 25 }
        function light(x, y) { return L[x "," y] >= face - 5 }
        # Share of a row (y, x0..x1) or a column (x, y0..y1) that is shadow (s) or light (l).
        function row(kind, y, x0, x1,    x, hit, all) {
            for (x = x0; x <= x1; x++) { all++; hit += kind == "s" ? shadow(x, y) : light(x, y) }
            return all ? hit / all : 0
        }
        function col(kind, x, y0, y1,    y, hit, all) {
            for (y = y0; y <= y1; y++) { all++; hit += kind == "s" ? shadow(x, y) : light(x, y) }
            return all ? hit / all : 0
        }
        function sunken(i) {
            return row("s", cy[i], cx[i] + 1, cx[i] + cw[i] - 2) >= 0.9 &&
                   col("s", cx[i], cy[i] + 1, cy[i] + ch[i] - 2) >= 0.9 &&
                   row("l", cy[i] + ch[i] - 1, cx[i] + 1, cx[i] + cw[i] - 2) >= 0.9 &&
                   col("l", cx[i] + cw[i] - 1, cy[i] + 1, cy[i] + ch[i] - 2) >= 0.9
        }
        # Shares of the inside of control i that are red, and white.
        function reds(i,    x, y, k, all) {
            for (y = cy[i] + 2; y < cy[i] + ch[i] - 2; y++)
                for (x = cx[i] + 2; x < cx[i] + cw[i] - 2; x++) { all++; k += (x "," y) in R }
            return all ? k / all : 0
        }
        function whites(i,    x, y, k) {
            for (y = cy[i] + 2; y < cy[i] + ch[i] - 2; y++)
                for (x = cx[i] + 2; x < cx[i] + cw[i] - 2; x++) k += (x "," y) in Wh
            return k
        }
        function inked(i, limit,    x, y, k) {
            for (y = cy[i] + 2; y < cy[i] + ch[i] - 2; y++)
                for (x = cx[i] + 2; x < cx[i] + cw[i] - 2; x++) k += L[x "," y] < limit
            return k
        }
        END {
            for (i = 1; i <= n; i++) if (cls[i] == "#32770") panel = i
            if (!panel) { print "no status panel among the controls"; exit 1 }
            # The face is the commonest shade of the panel.
            for (y = cy[panel]; y < cy[panel] + ch[panel]; y += 2)
                for (x = cx[panel]; x < cx[panel] + cw[panel]; x += 2) count[L[x "," y]]++
            for (v in count) if (count[v] > best) { best = count[v]; face = v + 0 }
            if (best < 0.5 * (cw[panel] / 2) * (ch[panel] / 2)) { print "the panel has no face colour"; bad++ }
            if (face < 60) { print "the panel face is black: not painted"; bad++ }

            split("InfoDriver|Dravik|Serial|Com Port|Tallies", want, "|")
            for (i = 1; i <= n; i++) {
                if (cls[i] == "Button" && cw[i] > 60) {
                    seen[text[i]] = 1
                    mid = cy[i] + int(ch[i] / 2)
                    if (col("s", cx[i], mid, cy[i] + ch[i] - 3) < 0.9 || col("l", cx[i] + 1, mid, cy[i] + ch[i] - 3) < 0.9 ||
                        row("s", cy[i] + ch[i] - 2, cx[i] + 2, cx[i] + cw[i] - 3) < 0.9) {
                        print "group box \"" text[i] "\" has no etched frame"; bad++
                    }
                }
                if (id[i] >= 1006 && id[i] <= 1133) {
                    tallies++
                    if (!sunken(i)) { broken = broken " " id[i] - 1005; bad++ }
                    if (id[i] in islit) {
                        if (reds(i) < 0.6 || whites(i) < 4) { print "lit tally " id[i] - 1005 " is not white on red"; bad++ }
                    } else if (reds(i) > 0.05) { print "unlit tally " id[i] - 1005 " is red"; bad++ }
                }
                if (id[i] >= 2006 && id[i] <= 2008) {
                    if (!sunken(i)) { print "counter " id[i] " has no sunken edge"; bad++ }
                    if (inked(i, 100) < 10) { print "counter " id[i] " shows no digits"; bad++ }
                }
                if (id[i] == 100 && inked(i, 100) < 50) { print "the debug list shows no text"; bad++ }
            }
            for (k in want) if (!(want[k] in seen)) { print "group box \"" want[k] "\" missing"; bad++ }
            if (tallies != 128) { print "found " tallies + 0 " tally boxes, not 128"; bad++ }
            if (broken != "") print "tally boxes without a sunken edge:" broken
            exit bad ? 1 : 0
        }' "$WORK/children.txt" - 2>&1
}

END=$((SECONDS + DEADLINE_S))
attempt=0
while :; do
    attempt=$((attempt + 1))
    if result="$(check_photo)"; then
        echo "PASS: the window ${W}x${H} at ($X,$Y) is drawn (attempt $attempt)"
        exit 0
    fi
    [ "$SECONDS" -lt "$END" ] || break
    sleep 1
done
cp "$WORK/window.png" "$KEEP" 2>/dev/null
fail "after $attempt photographs (the last is $KEEP):
$result"
