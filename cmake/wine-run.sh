#!/bin/sh
# Runs a Windows program under Wine for the build and its tests: in the prefix given first
# unless WINEPREFIX is set, and without Wine's debug chatter unless WINEDEBUG is set.
# Usage: wine-run.sh <default prefix> <program.exe> [arguments...]
#
# A run that fails without a word from the program or from Wine (which names a crash even
# without its debug chatter) never started it: Wine lost its server as a test began, on a busy
# machine. That run is made once more, and said on stderr.
prefix="$1"
shift
export WINEPREFIX="${WINEPREFIX:-$prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
out="$(mktemp)" || exit 1
err="$(mktemp)" || exit 1
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
  rc=0
  wine "$@" >"$out" 2>"$err" || rc=$?
  cat "$out"
  cat "$err" >&2
  if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$try" -eq 2 ]; then
    exit "$rc"
  fi
  echo "wine-run.sh: Wine ended $1 with $rc before it said anything; running it once more." >&2
done
