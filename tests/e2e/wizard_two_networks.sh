#!/bin/bash
# A PC on two networks: the real wizard, for a device heard only on the second, shows this PC's
# address on that network, proposes that network's address, and takes the device's address
# there without the subnet warning; bootpc on the second network gets the reply.
# Usage: wizard_two_networks.sh <wizard_driver>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

DRIVER="${1:?usage: $0 <wizard_driver>}"
[[ -x "$DRIVER" ]] || qnt_fail "not an executable: $DRIVER"
command -v bootpc >/dev/null || qnt_fail "bootpc is not installed (Debian package bootpc)"
qnt_init

readonly MAC="02:00:5e:92:00:02"
# pc0, the first adapter, leads to a network without the device; pc1 to the device's.
qnt_make_ns PC pc
qnt_make_ns OTHER other
qnt_make_ns DEV dev
qnt_veth "$PC" pc0 "$OTHER" other0
qnt_veth "$PC" pc1 "$DEV" dev0
ip -n "$PC" addr add 10.91.0.1/24 dev pc0
ip -n "$PC" addr add 10.92.0.1/24 dev pc1
ip -n "$PC" link set pc0 up
ip -n "$PC" link set pc1 up
ip -n "$OTHER" link set other0 up
qnt_device "$DEV" dev0 "$MAC"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$QNT_TMP/config"

qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" "$DRIVER" assign "$MAC" 10.92.0.50 \
  255.255.255.0 10.92.0.254 --expect-local 10.92.0.1 --expect-not-answered
WIZARD=$QNT_LAST_PID
# The device asks, unanswered, until the wizard is armed for it.
deadline=$((SECONDS + 60))
until qnt_file_has "$QNT_TMP/wizard.out" ARMED; do
  qnt_running "$WIZARD" || qnt_fail "the wizard ended early: $(cat "$QNT_TMP/wizard.err")"
  ((SECONDS < deadline)) || qnt_fail "the wizard was not armed: $(cat "$QNT_TMP/wizard.err")"
  ip netns exec "$DEV" bootpc --dev dev0 --timeoutwait 1 --returniffail >/dev/null 2>&1 || true
done
rc=0
ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 10 \
  >"$QNT_TMP/bootpc.out" 2>&1 || rc=$?
((rc == 0)) || qnt_fail "bootpc got no answer (exit $rc): $(cat "$QNT_TMP/bootpc.out" "$QNT_TMP/wizard.err")"
qnt_expect_eq "IPADDR" 10.92.0.50 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" IPADDR)"
qnt_wait_exit "$WIZARD" 45
((QNT_RC == 0)) || qnt_fail "the wizard run failed (exit $QNT_RC): $(cat "$QNT_TMP/wizard.err")"

qnt_log "PASS"
