#!/bin/bash
# A PC with two interfaces on two subnets and one device behind each. Only the armed device is
# answered: the other one asks while the server waits and gets nothing. The reply leaves
# through both interfaces, each copy from that interface's own address and port 67, so a copy
# for the armed device's MAC also reaches the other device's network. On the wire each copy is
# one Ethernet broadcast from that interface's MAC, to 255.255.255.255:68, with the same
# 1024 bytes of reply. The address is checked against the network of the interface the device
# asks on: a device behind the second interface given an address there is not warned of
# another subnet, and one given an address of the other network is, once it has asked.
# Usage: two_interfaces.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
qnt_init

readonly MAC_A="02:00:5e:81:00:0a"
readonly MAC_B="02:00:5e:82:00:0b"
qnt_make_ns PC pc
qnt_make_ns DEV_A deva
qnt_make_ns DEV_B devb
qnt_veth "$PC" pc1 "$DEV_A" da
qnt_veth "$PC" pc2 "$DEV_B" db
ip -n "$PC" addr add 10.81.0.1/24 dev pc1
ip -n "$PC" addr add 10.82.0.1/24 dev pc2
ip -n "$PC" link set pc1 up
ip -n "$PC" link set pc2 up
qnt_device "$DEV_A" da "$MAC_A"
qnt_device "$DEV_B" db "$MAC_B"

# phase <label> <armed mac> <armed ns> <armed if> <ip> <mask> <gateway>
#       <other ns> <other if> <pc address on the other side> <subnet warning: yes|no>
phase() {
  local label="$1" mac="$2" ns="$3" dev="$4" ip="$5" mask="$6" gw="$7"
  local other_ns="$8" other_dev="$9" other_pc="${10}" warned="${11}"
  local out="$QNT_TMP/$label.cli.out" err="$QNT_TMP/$label.cli.err"

  # bootpc does not set the address it gets, so nothing could confirm it.
  qnt_bg "$PC" "$out" "$err" "$CLI" assign "$mac" "$ip" "$mask" "$gw" --timeout 30 --confirm 0
  local cli=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$out" "Waiting for a BOOTP or DHCP request" ||
    qnt_fail "$label: the server did not start: $(cat "$out" "$err")"

  # The device that is not armed asks while the server waits, and gets nothing.
  local rc=0
  ip netns exec "$other_ns" bootpc --dev "$other_dev" --returniffail --timeoutwait 1 \
    >"$QNT_TMP/$label.other.bootpc" 2>&1 || rc=$?
  ((rc != 0)) || qnt_fail "$label: the device that is not armed got an answer: $(cat "$QNT_TMP/$label.other.bootpc")"
  qnt_file_has "$QNT_TMP/$label.other.bootpc" "No response from BOOTP server" ||
    qnt_fail "$label: bootpc failed for another reason: $(cat "$QNT_TMP/$label.other.bootpc")"
  qnt_running "$cli" || qnt_fail "$label: the server ended on a request from another device: $(cat "$err")"

  # It listens on port 68 while the armed device asks.
  local catch="$QNT_TMP/$label.catch"
  qnt_bg "$other_ns" "$catch" "$catch.err" python3 "$PEER" catch 10
  local catcher=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$catch" "ready" || qnt_fail "$label: catcher not ready: $(cat "$catch.err")"

  # The frames the PC sends from port 67 while it answers.
  local wire="$QNT_TMP/$label.frames"
  qnt_bg "$PC" "$wire" "$wire.err" python3 "$PEER" frames 2 15
  local sniffer=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$wire" "ready" || qnt_fail "$label: capture not ready: $(cat "$wire.err")"

  rc=0
  ip netns exec "$ns" bootpc --dev "$dev" --returniffail --timeoutwait 5 \
    >"$QNT_TMP/$label.bootpc" 2>"$QNT_TMP/$label.bootpc.err" || rc=$?
  ((rc == 0)) || qnt_fail "$label: the armed device got no answer (exit $rc): $(cat "$QNT_TMP/$label.bootpc.err")"
  qnt_expect_eq "$label IPADDR" "$ip" "$(qnt_bootpc_value "$QNT_TMP/$label.bootpc" IPADDR)"
  qnt_expect_eq "$label NETMASK" "$mask" "$(qnt_bootpc_value "$QNT_TMP/$label.bootpc" NETMASK)"
  qnt_expect_eq "$label GATEWAYS" "$gw" "$(qnt_bootpc_value "$QNT_TMP/$label.bootpc" GATEWAYS)"

  qnt_wait_exit "$cli" 10
  ((QNT_RC == 0)) || qnt_fail "$label: assign exited $QNT_RC: $(cat "$err")"
  local warnings
  warnings="$(grep -c "WARNING: this address is in a different Subnet." "$err")" || true
  qnt_expect_eq "$label subnet warnings" "$([[ "$warned" == yes ]] && echo 1 || echo 0)" "$warnings"

  # The copy that left through the other interface: a whole 1024-byte reply for the armed
  # device, from the other interface's address and the server port, to the client port.
  qnt_wait_exit "$catcher" 15
  ((QNT_RC == 0)) || qnt_fail "$label: no copy of the reply on the other interface"
  qnt_expect_eq "$label copy on the other interface" \
    "from $other_pc:67 len 1024 op 2 chaddr $mac yiaddr $ip" "$(tail -n 1 "$catch")"

  qnt_wait_exit "$sniffer" 15
  ((QNT_RC == 0)) || qnt_fail "$label: the PC sent fewer than two frames from port 67: $(cat "$wire")"
  local if_name if_mac if_ip payload="" line expected
  for if_name in pc1 pc2; do
    if_mac="$(ip -n "$PC" -o link show dev "$if_name" | grep -o 'link/ether [0-9a-f:]*' | cut -d' ' -f2)"
    if_ip="$(ip -n "$PC" -4 -o addr show dev "$if_name" | awk '{ split($4, a, "/"); print a[1] }')"
    line="$(grep "^$if_name " "$wire")" || qnt_fail "$label: no frame left through $if_name: $(cat "$wire")"
    expected="$if_name $if_mac > ff:ff:ff:ff:ff:ff $if_ip:67 > 255.255.255.255:68 ttl 64 df 1 udplen 1032"
    qnt_expect_eq "$label frame on $if_name" "$expected" "${line% payload *}"
    [[ -z "$payload" || "$payload" == "${line##* payload }" ]] ||
      qnt_fail "$label: the two copies differ: $(cat "$wire")"
    payload="${line##* payload }"
  done
}

phase a "$MAC_A" "$DEV_A" da 10.81.0.50 255.255.255.0 10.81.0.1 "$DEV_B" db 10.82.0.1 no
phase b "$MAC_B" "$DEV_B" db 10.82.0.60 255.255.0.0 10.82.0.254 "$DEV_A" da 10.81.0.1 no
# An address of the second network for the device behind the first interface: in one of this
# PC's networks, so not warned of before it asks; warned of once it asked on pc1.
phase c "$MAC_A" "$DEV_A" da 10.82.0.70 255.255.255.0 10.82.0.254 "$DEV_B" db 10.82.0.1 yes

qnt_log "PASS"
