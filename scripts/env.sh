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
