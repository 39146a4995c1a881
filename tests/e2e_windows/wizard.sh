#!/bin/bash
# The real Quillnet.exe under Wine on a virtual display, clicked through by wizard_driver.exe
# from another process, as a user with a mouse would: Welcome, Listen with bootpc heard,
# select it, Set IP, Assign IP, and the Completion page with the values bootpc was given;
# Back to Listen, and ISC dhclient through the same pages in DHCP, holding its address after;
# a copy saved from the Completion page, with its shortcuts, after a folder that was refused;
# Cancel to the Failure page, and Finish ends the program with 0. With port 67 taken by another
# program, the Listen page leads to the Failure page, which says so.
# Usage: wizard.sh <build folder of the Windows build>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

BUILD="${1:?usage: $0 <build-windows>}"
WIZARD="$BUILD/gui/Quillnet.exe"
DRIVER="$BUILD/tests/e2e_windows/wizard_driver.exe"
[[ -f "$WIZARD" && -f "$DRIVER" ]] || qnt_fail "no Quillnet.exe or wizard_driver.exe in $BUILD"
qnw_cli_test "$BUILD/cli/quillnet-cli.exe" bootpc dhclient

readonly MAC="02:00:5e:93:00:02"
qnt_pc_and_device PC DEV 10.93.0.1/24 "$MAC"
# Wine's desktop process starts with the first program, and needs the display then.
qnw_start_display "$PC"
qnw_start_wine "$PC"

# drive <steps...>: the driver's steps, failing the test with the driver's reason.
drive() {
  local rc=0
  timeout 120 ip netns exec "$PC" wine "$DRIVER" "$@" </dev/null \
    >"$QNT_TMP/driver.out" 2>"$QNT_TMP/driver.err" || rc=$?
  ((rc == 0)) || qnt_fail "driver ($*): $(tr -d '\r' <"$QNT_TMP/driver.err") [wizard: $(tail -n 5 "$QNT_TMP/wizard.err")]"
  tr -d '\r' <"$QNT_TMP/driver.out"
}

# grab <name>: with QUILLNET_GRAB_DIR set, the wizard's window as <dir>/win32-page-<name>.png
# (x11-apps' xwd, ImageMagick's convert), for README and for looking at.
grab() {
  [[ -n "${QUILLNET_GRAB_DIR:-}" ]] || return 0
  sleep 0.5  # what the page was just told is drawn by now; only the pictures wait for it
  ip netns exec "$PC" xwd -root -silent -display "$DISPLAY" |
    convert xwd:- -crop "$(drive rect)" +repage "$QUILLNET_GRAB_DIR/win32-page-$1.png"
}

# start_wizard: Quillnet.exe in the PC namespace; its pid in $WIZARD_PID.
start_wizard() {
  qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" wine "$WIZARD"
  WIZARD_PID=$QNT_LAST_PID
}

start_wizard
drive "page welcome 60" "has 1218 10 10.93.0.1" >/dev/null
grab welcome
qnt_expect_eq "title" "Varnholt - Quillnet 1.1.2" "$(drive title)"
drive "enabled next 10" next "page listen 20"

# BOOTP: bootpc asks, unanswered, until the wizard is armed for it and answers.
(
  until ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 2 \
    >"$QNT_TMP/bootpc.out" 2>"$QNT_TMP/bootpc.err"; do :; done
) &
bootpc_loop=$!
drive "row $MAC 60" "select $MAC" "enabled next 10"
grab listen
drive next "page set-ip 20" \
  "address 1214 10.93.0.50" "address 1215 255.255.255.0" "address 1216 10.93.0.1" "enabled next 10"
grab set-ip
drive next "page assign-ip 20"
grab assign-ip
qnt_wait_exit "$bootpc_loop" 60
((QNT_RC == 0)) || qnt_fail "bootpc got no answer: $(cat "$QNT_TMP/bootpc.err")"
qnt_expect_eq "IPADDR" 10.93.0.50 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" IPADDR)"
qnt_expect_eq "NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" NETMASK)"
qnt_expect_eq "GATEWAYS" 10.93.0.1 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" GATEWAYS)"
# bootpc never answers at its address; the page gives it its time, then says so.
drive "page completion 60" "has 1007 10 $MAC" "has 1007 10 IP address:" \
  "has 1007 10 10.93.0.50" "has 1007 10 255.255.255.0" "has 1007 10 10.93.0.1" >/dev/null
grab completion

# Back to Listen; DHCP: dhclient is offered the address, asks for it, is acked and sets it.
drive back "page listen 20"
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/../e2e/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
drive "row $MAC 30" "select $MAC" "enabled next 10" next "page set-ip 20" \
  "address 1214 10.93.0.60" "address 1215 255.255.255.0" "address 1216 10.93.0.1" \
  "enabled next 10" next "page assign-ip 20" "page completion 60" "has 1007 10 10.93.0.60" >/dev/null
has_address() { ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet 10.93.0.60/24"; }
qnt_wait_for 10 has_address || qnt_fail "dhclient did not set the address: $(cat "$QNT_TMP/dhclient.err")"
qnt_running "$dhclient" || qnt_fail "dhclient ended: $(cat "$QNT_TMP/dhclient.err")"
qnt_file_has "$QNT_TMP/dhclient.err" "DHCPACK of 10.93.0.60 from 10.93.0.1" ||
  qnt_fail "dhclient took no ack from this PC: $(cat "$QNT_TMP/dhclient.err")"

# Save a copy from the Completion page. A folder that cannot be made is a message box with
# Windows' reason, and the Completion page then says so; from there again, Quillnet.exe goes
# into a new folder, with its shortcuts in the desktop and Start-menu folders Windows reads.
drive "check 1226" "enabled next 10" next "page install 20" >/dev/null
grab install
drive 'type 1103 Z:\proc\Varnholt\Tools' next "box Error 20 Can't create specified folder." \
  "page completion 20" 'has 1007 10 Quillnet was not installed in Z:\proc\Varnholt\Tools:' \
  "enabled next 10" next "page install 20" 'type 1103 C:\Varnholt\Quillnet Tools' \
  "check 1227" "check 1228" next "page completion 20" \
  'has 1007 10 A copy of Quillnet was saved in C:\Varnholt\Quillnet Tools.' >/dev/null
cmp -s "$WIZARD" "$QNW_PREFIX/drive_c/Varnholt/Quillnet Tools/Quillnet.exe" ||
  qnt_fail "no copy of Quillnet.exe in C:\\Varnholt\\Quillnet Tools: $(ls -R "$QNW_PREFIX/drive_c/Varnholt" 2>&1)"
for link in "Desktop/Quillnet.lnk" "Start Menu/Programs/Quillnet.lnk"; do
  [[ -n "$(find "$QNW_PREFIX/drive_c/users" -path "*/$link" -newer "$WIZARD" 2>/dev/null)" ]] ||
    qnt_fail "no shortcut $link in the user's folders"
done

# Cancel on the Listen page: the Failure page says why the run ended; Finish ends the program.
drive back "page listen 20" cancel "page failure 20" "has 1007 10 WARNING:" \
  "has 1007 10 You have not selected a device for IP assignment."
grab failure
drive "enabled finish 10" finish "gone 30"
qnt_wait_exit "$WIZARD_PID" 30
((QNT_RC == 0)) || qnt_fail "Quillnet.exe exited $QNT_RC: $(cat "$QNT_TMP/wizard.err")"

# Port 67 taken by another program: the Listen page leads to the Failure page, which says so.
qnt_bg "$PC" "$QNT_TMP/holder.out" "$QNT_TMP/holder.err" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
print("bound", flush=True)
time.sleep(600)'
qnt_wait_for 10 qnt_file_has "$QNT_TMP/holder.out" bound ||
  qnt_fail "could not take port 67: $(cat "$QNT_TMP/holder.err")"
start_wizard
drive "page welcome 60" "enabled next 10" next "page failure 20" "has 1007 10 ERROR:" "has 1007 10 67" \
  finish "gone 30"
qnt_wait_exit "$WIZARD_PID" 30
((QNT_RC == 0)) || qnt_fail "Quillnet.exe exited $QNT_RC after the port was taken"

qnt_log "PASS"
