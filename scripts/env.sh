# Sourced by the other scripts: where things live and how Wine is run.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${DRAVIK_BUILD:-$ROOT/build}"
NATIVE_BUILD="${DRAVIK_NATIVE_BUILD:-$ROOT/build-native}"
FUZZ_BUILD="${DRAVIK_FUZZ_BUILD:-$ROOT/build-fuzz}"
export WINEPREFIX="$BUILD/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko prompts, ever.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Whether the wineserver of this prefix runs: it works in a directory server-DEV-INODE named after
# the prefix (under /tmp; the parent's name varies between Wine builds). A script that starts one
# stops it again; one it found running it leaves.
wineserver_running() {
    local name pid
    name="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
    for pid in /proc/[0-9]*; do
        [[ "$(readlink "$pid/cwd" 2>/dev/null)" == */"$name" ]] && return 0
    done
    return 1
}
