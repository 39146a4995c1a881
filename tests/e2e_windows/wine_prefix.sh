#!/bin/bash
# Makes the Wine prefix the end-to-end tests of a run copy (QUILLNET_WINE_PREFIX_TEMPLATE), in a
# namespace of its own, so its Wine server and services never hold a socket in this one, and
# waits until that server has ended.
# Usage: wine_prefix.sh <new folder>
# shellcheck source=../e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/netns_lib.sh"

PREFIX="${1:?usage: $0 <new folder>}"
[[ ! -e "$PREFIX" ]] || qnt_fail "$PREFIX exists already"
command -v wineboot >/dev/null || qnt_fail "wine is not installed (Debian packages wine, wine64)"
qnt_init
qnt_make_ns INIT wineboot

mkdir -p "$PREFIX"
export WINEPREFIX="$PREFIX" WINEDEBUG=-all
rc=0
ip netns exec "$INIT" wineboot -i </dev/null >"$QNT_TMP/wineboot.log" 2>&1 || rc=$?
ip netns exec "$INIT" timeout 60 wineserver -w || rc=1
if ((rc != 0)) || [[ ! -f "$PREFIX/system.reg" ]]; then
  rm -rf "$PREFIX"
  qnt_fail "wineboot failed (exit $rc): $(cat "$QNT_TMP/wineboot.log")"
fi
