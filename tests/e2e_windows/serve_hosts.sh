#!/bin/bash
# quillnet-cli.exe serve --hosts under Wine commissions two devices behind one bridge from a
# hosts file named as Windows names it: bootpc takes its row in BOOTP, ISC dhclient its row in
# DHCP and sets it; a device not in the file gets nothing; --once ends with 0 once both have
# their address, and not before. Each answer has its line in the commissioning record in the
# user's local application data, which history prints.
# Usage: serve_hosts.sh <quillnet-cli.exe>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

qnw_cli_test "${1:-}" bootpc dhclient

readonly MAC_A="02:00:5e:94:00:0a"
readonly MAC_B="02:00:5e:94:00:0b"
readonly MAC_C="02:00:5e:94:00:0c"
qnt_pc_bridge PC 10.94.0.1/24
qnt_make_ns DEV_A deva
qnt_make_ns DEV_B devb
qnt_bridge_port "$PC" pa "$DEV_A" da
qnt_bridge_port "$PC" pb "$DEV_B" db
qnt_device "$DEV_A" da "$MAC_A"
qnt_device "$DEV_B" db "$MAC_B"
qnw_start_wine "$PC"

# As a spreadsheet on Windows saves it: CR LF line ends, and the MAC forms ipconfig prints.
HOSTS="$(qnw_windows_path "$QNT_TMP/hosts.csv")"
printf 'MAC,IP,MASK,GATEWAY\r\n%s,10.94.0.50,255.255.255.0,10.94.0.1\r\n%s,10.94.0.60,255.255.0.0\r\n' \
  "${MAC_A^^}" "${MAC_B//:/-}" >"$QNT_TMP/hosts.csv"

qnw_bg "$PC" serve serve --hosts "$HOSTS" --once --timeout 60
SERVER=$QNT_LAST_PID
qnt_wait_for 20 qnt_file_has "$QNT_TMP/serve.out" "Serving 2 devices from $HOSTS on UDP port 67" ||
  qnt_fail "serve did not start: $(qnw_text "$QNT_TMP/serve.out") $(qnw_text "$QNT_TMP/serve.err")"

# A device that is not listed asks first and is not answered.
CATCH="$QNT_TMP/unlisted.catch"
qnt_bg "$DEV_A" "$CATCH" "$CATCH.err" python3 "$PEER" catch 2
CATCHER=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$CATCH" "ready" || qnt_fail "catcher not ready: $(cat "$CATCH.err")"
ip netns exec "$DEV_B" python3 "$PEER" send "$MAC_C:300"
qnt_wait_exit "$CATCHER" 10
((QNT_RC != 0)) || qnt_fail "a device not in the file was answered: $(cat "$CATCH")"

rc=0
ip netns exec "$DEV_A" bootpc --dev da --returniffail --timeoutwait 10 \
  >"$QNT_TMP/a.bootpc" 2>"$QNT_TMP/a.bootpc.err" || rc=$?
((rc == 0)) || qnt_fail "bootpc got no answer (exit $rc): $(cat "$QNT_TMP/a.bootpc.err")"
qnt_expect_eq "device A IPADDR" 10.94.0.50 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" IPADDR)"
qnt_expect_eq "device A NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" NETMASK)"
qnt_expect_eq "device A GATEWAYS" 10.94.0.1 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" GATEWAYS)"
sleep 0.5
qnt_running "$SERVER" || qnt_fail "--once ended before every row was answered: $(qnw_text "$QNT_TMP/serve.out")"

qnt_bg "$DEV_B" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/../e2e/dhclient_set_address.sh" db
qnt_wait_exit "$SERVER" 30
((QNT_RC == 0)) || qnt_fail "serve --once exited $QNT_RC: $(qnw_text "$QNT_TMP/serve.err")"
has_address() { ip -n "$DEV_B" -4 addr show dev db | grep -qF "inet 10.94.0.60/16"; }
qnt_wait_for 10 has_address || qnt_fail "dhclient did not set its row's address: $(cat "$QNT_TMP/dhclient.err")"

OUT="$(qnw_text "$QNT_TMP/serve.out")"
line() {
  grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2}  $1 \(through br0\)\$" <<<"$OUT" ||
    qnt_fail "no line '$1': $OUT"
}
line "Sent to $MAC_A: IP address 10\.94\.0\.50, subnet mask 255\.255\.255\.0, default gateway 10\.94\.0\.1"
line "Sent DHCPOFFER to $MAC_B: IP address 10\.94\.0\.60, subnet mask 255\.255\.0\.0, default gateway 0\.0\.0\.0"
line "Sent DHCPACK to $MAC_B: IP address 10\.94\.0\.60, subnet mask 255\.255\.0\.0, default gateway 0\.0\.0\.0"
grep -qiF "$MAC_C" <<<"$OUT" && qnt_fail "the unlisted device was reported: $OUT"
[[ ! -s "$QNT_TMP/serve.err" ]] || qnt_fail "serve: $(qnw_text "$QNT_TMP/serve.err")"

qnw_run "$PC" history history --json
((QNW_RC == 0)) || qnt_fail "history exited $QNW_RC: $(qnw_text "$QNT_TMP/history.err")"
record="$(find "$QNW_PREFIX/drive_c/users" -path '*/Varnholt/Quillnet/commissioning.csv')"
[[ -n "$record" ]] || qnt_fail "no record under the user's local application data"
python3 - "$QNT_TMP/history.out" "$record" "$MAC_A" "$MAC_B" <<'PY' ||
import csv, json, sys
history, record, mac_a, mac_b = sys.argv[1:]
events = [json.loads(line) for line in open(history)]
lines = {(e["mac"], e["ip"], e["protocol"], e["via"], e["result"]) for e in events
         if e["event"] == "assignment" and e["program"] == "quillnet-cli serve"}
assert lines == {(mac_a, "10.94.0.50", "BOOTP", "br0", "not confirmed"),
                 (mac_b, "10.94.0.60", "DHCP", "br0", "not confirmed")}, events
with open(record, newline="", encoding="utf-8-sig") as f:
    assert len(list(csv.DictReader(f))) == 2
PY
  qnt_fail "the record: $(qnw_text "$QNT_TMP/history.out")"

qnt_log "PASS"
