#!/usr/bin/env bash
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
