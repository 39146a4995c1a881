#!/bin/bash
# ARP probes through a real packet socket: a device that holds an address answers the probe
# with its MAC, an address nobody holds stays silent, and a user without CAP_NET_RAW nor the
# helper that holds it is told what is missing instead of hearing silence.
# Usage: arp_probe.sh <e2e_arp_probe>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

TOOL="${1:?usage: $0 <e2e_arp_probe>}"
[[ -x "$TOOL" ]] || qnt_fail "not an executable: $TOOL"
command -v setpriv >/dev/null || qnt_fail "setpriv is not installed (Debian package util-linux)"
qnt_init

readonly MAC="02:00:5e:79:00:02"
qnt_pc_and_device PC DEV 10.79.0.1/24 "$MAC"
ip -n "$DEV" addr add 10.79.0.2/24 dev dev0

# probe <label> <ip> <expected output>
probe() {
  local out="$QNT_TMP/$1.out" err="$QNT_TMP/$1.err" rc=0
  ip netns exec "$PC" "$TOOL" pc0 "$2" holder >"$out" 2>"$err" || rc=$?
  ((rc == 0)) || qnt_fail "$1: exit $rc: $(cat "$err")"
  qnt_expect_eq "$1" "$3" "$(cat "$out")"
}

probe held 10.79.0.2 "$MAC"
probe free 10.79.0.3 none

# Without the capability, and without quillnet-net-helper beside the tool, the probe is not
# possible, and says why.
out="$QNT_TMP/nobody.out"
err="$QNT_TMP/nobody.err"
rc=0
ip netns exec "$PC" setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
  "$TOOL" pc0 10.79.0.2 holder >"$out" 2>"$err" || rc=$?
((rc != 0 && rc != 126 && rc != 127)) || qnt_fail "as nobody: exit $rc: $(cat "$out" "$err")"
qnt_file_has "$err" "quillnet-net-helper was not found beside $(realpath "$TOOL") nor in /usr/lib/quillnet" ||
  qnt_fail "as nobody: no capability reason: $(cat "$err")"
[[ ! -s "$out" ]] || qnt_fail "as nobody: printed a result: $(cat "$out")"

qnt_log "PASS"
