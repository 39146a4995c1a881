#!/bin/bash
# The wizard holds no capability: run as user nobody, with a plugin of the user's own loaded
# through QT_PLUGIN_PATH, it assigns an address to ISC dhclient and sees it confirmed, through
# quillnet-net-helper alone. The helper may be run only by its group, as the package installs
# it: nobody in that group gets port 67 and the ARP probes, and the plugin, inside the wizard,
# finds no effective capability; nobody outside it gets the Failure page saying to join the
# group quillnet.
# Usage: wizard_helper.sh <wizard_driver> <quillnet-net-helper> <Qt plugin folder>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

DRIVER="${1:?usage: $0 <wizard_driver> <quillnet-net-helper> <Qt plugin folder>}"
HELPER="${2:?usage: $0 <wizard_driver> <quillnet-net-helper> <Qt plugin folder>}"
PLUGINS="${3:?usage: $0 <wizard_driver> <quillnet-net-helper> <Qt plugin folder>}"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v setpriv >/dev/null || qnt_fail "setpriv is not installed (Debian package util-linux)"
qnt_init
(($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) > 67)) ||
  qnt_skip "port 67 is not privileged here (net.ipv4.ip_unprivileged_port_start)"

readonly MAC="02:00:5e:8a:00:02" IP="10.90.1.50" MASK="255.255.255.0" GATEWAY="10.90.1.1"
# The helper's group, by number only: nothing is added to the system's groups.
readonly GROUP=$((60000 + $$ % 5000))
qnt_pc_and_device PC DEV 10.90.1.1/24 "$MAC"

# The wizard and the helper as the package lays them out: the helper root:GROUP, mode 0750,
# the only file with the capabilities; the plugin and the settings where nobody may reach them.
mkdir -p "$QNT_TMP/bin" "$QNT_TMP/config"
cp "$DRIVER" "$QNT_TMP/bin/quillnet"
cp "$HELPER" "$QNT_TMP/bin/quillnet-net-helper"
cp -r "$PLUGINS" "$QNT_TMP/plugins"
chgrp "$GROUP" "$QNT_TMP/bin/quillnet-net-helper"
chmod 750 "$QNT_TMP/bin/quillnet-net-helper"
setcap cap_net_bind_service,cap_net_raw=+ep "$QNT_TMP/bin/quillnet-net-helper" ||
  qnt_fail "cannot set a file capability on the helper"
chmod 755 "$QNT_TMP" "$QNT_TMP/bin" "$QNT_TMP/bin/quillnet"
chmod -R a+rX "$QNT_TMP/plugins"
chown 65534 "$QNT_TMP/config"

# nobody_wizard <groups> <report file>: WIZARD becomes the command that runs the wizard as
# nobody, with those groups, the plugin writing its capabilities into the report.
nobody_wizard() {
  local membership=(--clear-groups)
  [[ -z "$1" ]] || membership=(--groups "$1")
  WIZARD=(setpriv --reuid=65534 --regid=65534 "${membership[@]}" --inh-caps=-all
    env -i PATH=/usr/bin:/bin HOME="$QNT_TMP/config" XDG_CONFIG_HOME="$QNT_TMP/config"
    QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$QNT_TMP/plugins"
    QT_QPA_GENERIC_PLUGINS="capsreport:$2" "$QNT_TMP/bin/quillnet")
}
touch "$QNT_TMP/member.caps" "$QNT_TMP/outsider.caps"
chown 65534 "$QNT_TMP/member.caps" "$QNT_TMP/outsider.caps"

qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" dhclient -d -v -1 -cf /dev/null \
  -lf "$QNT_TMP/dhclient.leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
nobody_wizard "$GROUP" "$QNT_TMP/member.caps"
qnt_bg "$PC" "$QNT_TMP/member.out" "$QNT_TMP/member.err" "${WIZARD[@]}" assign "$MAC" "$IP" "$MASK" "$GATEWAY" --arm-after 2 --expect-confirmed
qnt_wait_exit "$QNT_LAST_PID" 90
((QNT_RC == 0)) || qnt_fail "the wizard did not assign through the helper: $(cat "$QNT_TMP/member.err")"
ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $IP/" ||
  qnt_fail "dhclient does not hold $IP: $(cat "$QNT_TMP/dhclient.err")"
qnt_expect_eq "the plugin's view of the wizard's capabilities" "CapEff:	0000000000000000" \
  "$(cat "$QNT_TMP/member.caps")"

nobody_wizard "" "$QNT_TMP/outsider.caps"
qnt_bg "$PC" "$QNT_TMP/outsider.out" "$QNT_TMP/outsider.err" "${WIZARD[@]}" start-refused \
  "add yourself to the group quillnet (sudo usermod -aG quillnet \$USER), then log in again"
qnt_wait_exit "$QNT_LAST_PID" 30
((QNT_RC == 0)) || qnt_fail "a user outside the group was not told to join it: $(cat "$QNT_TMP/outsider.err")"
qnt_expect_eq "the plugin's view outside the group" "CapEff:	0000000000000000" \
  "$(cat "$QNT_TMP/outsider.caps")"

qnt_log "PASS"
