#!/bin/sh
# Runs a Windows program under Wine for the build and its tests: in the prefix given first
# unless WINEPREFIX is set, and without Wine's debug chatter unless WINEDEBUG is set.
# Usage: wine-run.sh <default prefix> <program.exe> [arguments...]
prefix="$1"
shift
export WINEPREFIX="${WINEPREFIX:-$prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
