#!/bin/bash
# The route rows and the adapter list as read over netlink, in a namespace whose interfaces,
# addresses and routes this script makes. Interface indexes are fixed and created out of
# order, so index order is what is checked, not creation order.
# Usage: netlink_sources.sh <network_dump>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

DUMP="${1:?usage: $0 <network_dump>}"
[[ -x "$DUMP" ]] || qnt_fail "not an executable: $DUMP"
qnt_init

qnt_make_ns NS net
n() { ip -n "$NS" "$@"; }

# Two veth pairs with both ends in this namespace, and a third whose one end is down.
n link add up1 index 12 type veth peer name up1p index 13
n link add up0 index 10 type veth peer name up0p index 11
n link add down0 index 14 type veth peer name down0p index 15

# up1p: up, running, one address; a second default route goes through it.
n addr add 10.13.0.1/16 dev up1p
n link set up1p up
# up1: up, running, two addresses; the first added is its first address.
n addr add 10.12.1.1/24 dev up1
n addr add 10.12.0.1/24 dev up1
n link set up1 up
# up0: up, running, one address, the first default route.
n addr add 10.10.0.1/24 dev up0
n link set up0 up
# up0p: up and running without an address.
n link set up0p up
# down0: down, with an address. down0p: up with an address but no carrier (its peer is down).
n addr add 10.14.0.1/28 dev down0
n addr add 10.15.0.1/24 dev down0p
n link set down0p up

n route add default via 10.10.0.254 dev up0
n route add default via 10.13.0.254 dev up1p metric 100
n route add 192.168.50.0/24 via 10.10.0.253 dev up0
# On-link without a source address: its next hop is the interface's first address.
n route add 172.16.0.0/16 dev up1
# Neither the kernel's own broadcast host route, another table nor a non-unicast route is a row.
n route add 255.255.255.255/32 dev up0
n route add 10.99.0.0/16 via 10.10.0.252 dev up0 table 100
n route add unreachable 198.51.100.0/24

# up0p has carrier only while up0 is up; wait until the kernel reports every link settled.
running() { n link show dev "$1" | grep -q "state UP"; }
for link in up0 up0p up1 up1p; do
  qnt_wait_for 10 running "$link" || qnt_fail "$link did not come up: $(n link show dev "$link")"
done

EXPECTED="$QNT_TMP/expected"
ACTUAL="$QNT_TMP/actual"
cat >"$EXPECTED" <<'EOF'
route 255.255.255.255 255.255.255.255 10.10.0.1
route 255.255.255.255 255.255.255.255 10.12.1.1
route 255.255.255.255 255.255.255.255 10.13.0.1
route 255.255.255.255 255.255.255.255 127.0.0.1
route 0.0.0.0 0.0.0.0 10.10.0.254
route 0.0.0.0 0.0.0.0 10.13.0.254
route 10.10.0.0 255.255.255.0 10.10.0.1
route 10.12.0.0 255.255.255.0 10.12.0.1
route 10.12.1.0 255.255.255.0 10.12.1.1
route 10.13.0.0 255.255.0.0 10.13.0.1
route 10.15.0.0 255.255.255.0 10.15.0.1
route 172.16.0.0 255.255.0.0 10.12.1.1
route 192.168.50.0 255.255.255.0 10.10.0.253
adapter up0 gateway 10.10.0.254 10.10.0.1/255.255.255.0
adapter up0p gateway 0.0.0.0 0.0.0.0/0.0.0.0
adapter up1 gateway 0.0.0.0 10.12.1.1/255.255.255.0 10.12.0.1/255.255.255.0
adapter up1p gateway 10.13.0.254 10.13.0.1/255.255.0.0
adapter down0 gateway 0.0.0.0 10.14.0.1/255.255.255.240
adapter down0p gateway 0.0.0.0 10.15.0.1/255.255.255.0
EOF

rc=0
ip netns exec "$NS" "$DUMP" >"$ACTUAL" 2>"$QNT_TMP/dump.err" || rc=$?
((rc == 0)) || qnt_fail "the queries failed (exit $rc): $(cat "$QNT_TMP/dump.err")"
if ! diff -u "$EXPECTED" "$ACTUAL" >"$QNT_TMP/diff"; then
  qnt_log "kernel's view:"
  n -4 -o addr show >&2
  n -4 route show table main >&2
  qnt_fail "rows differ from the network made (- expected, + read):
$(cat "$QNT_TMP/diff")"
fi

# Taking up0 down removes its row and its routes; the other rows keep their order.
n link set up0 down
ip netns exec "$NS" "$DUMP" >"$ACTUAL" 2>"$QNT_TMP/dump.err" || qnt_fail "$(cat "$QNT_TMP/dump.err")"
qnt_expect_eq "broadcast rows with up0 down" \
  "10.12.1.1 10.13.0.1 127.0.0.1" \
  "$(awk '$1 == "route" && $2 == "255.255.255.255" {print $4}' "$ACTUAL" | xargs)"
grep -q "^route .* 10.10.0.254$" "$ACTUAL" && qnt_fail "up0's default route is still read: $(cat "$ACTUAL")"
qnt_expect_eq "up0 with its link down" "adapter up0 gateway 0.0.0.0 10.10.0.1/255.255.255.0" \
  "$(grep "^adapter up0 " "$ACTUAL")"

qnt_log "PASS"
