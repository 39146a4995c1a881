#!/bin/bash
# Runs a Windows program with windows under Wine on a virtual display of its own (Xvfb), in a
# Wine prefix of its own copied from the given one: Wine's desktop process starts with the
# first program of a prefix and keeps the display it found, so a prefix that other tests
# started without one cannot show windows.
# Usage: with_display.sh <wine prefix to copy> <program.exe> [arguments...]
set -euo pipefail
template="${1:?usage: $0 <prefix> <program.exe> [arguments...]}"
shift
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (Debian package xvfb)" >&2; exit 1; }
tmp="$(mktemp -d /tmp/quillnet-display.XXXXXX)"
xvfb=""
cleanup() {
  WINEPREFIX="$tmp/wine" timeout 20 wineserver -k >/dev/null 2>&1 || true
  [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" 2>"$tmp/xvfb.err" &
xvfb=$!
for _ in $(seq 300); do
  grep -qE '^[0-9]+$' "$tmp/display" 2>/dev/null && break
  sleep 0.1
done
grep -qE '^[0-9]+$' "$tmp/display" || { echo "Xvfb did not start: $(cat "$tmp/xvfb.err")" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$tmp/display")" WINEPREFIX="$tmp/wine" WINEDEBUG="${WINEDEBUG:--all}"
if [[ -f "$template/system.reg" ]]; then
  # Programs and libraries are hard links; the registry files, which Wine rewrites, copies.
  cp -al "$template" "$WINEPREFIX"
  find "$WINEPREFIX" -maxdepth 1 -name '*.reg' -exec sh -c 'cp -p "$1" "$1.copy" && mv "$1.copy" "$1"' _ {} \;
fi
wine "$@"
