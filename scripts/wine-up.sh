#!/usr/bin/env bash
# One wineserver for a whole run, so each test process starts in a fraction of a second.
# Wine's system processes are started here with their output on /dev/null: started by a test
# they would inherit ctest's pipes and keep the test "running" until ctest's time-out.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
# A server already running for this prefix (an earlier run that was cut short) serves as well.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
