#!/bin/bash
# The real Quillnet.exe under Wine on a virtual display, clicked through by wizard_driver.exe
# from another process, as a user with a mouse would: Welcome, Listen with bootpc heard,
# select it, Set IP, Assign IP, and the Completion page with the values bootpc was given;
# Back to Listen, and ISC dhclient through the same pages in DHCP, holding its address after;
# the Install page cancelled, which the Failure page tells with the assignment's verdict; a copy
# saved from there, with its shortcuts, after a folder that was refused; Cancel to the Failure
# page, which no longer tells of the copy, and Finish ends the program with 0. While nothing
# asks, the Listen page explains the silence. With port 67 taken by another program, the
# Listen page leads to the Failure page, which says so.
# The keyboard as a user's: Down selects the device, the addresses are typed key by key with
# three-digit parts and pasted, Enter leaves Set IP (and Assign IP offers no Next after it), and
# a summary copied with Ctrl+A, Ctrl+C before Finish lets the program end with 0. Every page is
# checked to show what it holds whole (wizard_driver's fits) at 96 DPI, and again at 120 and
# 144 DPI in runs of their own.
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

# grab <name>: the page shows what it holds whole; with QUILLNET_GRAB_DIR set, the wizard's
# window as <dir>/win32-page-<name><DPI suffix>.png, for README and for looking at.
DPI_SUFFIX=""
grab() {
  drive fits >/dev/null
  [[ -n "${QUILLNET_GRAB_DIR:-}" ]] || return 0
  sleep 0.5  # what the page was just told is drawn by now; only the pictures wait for it
  drive "grab $(qnw_windows_path "$(realpath "$QUILLNET_GRAB_DIR")/win32-page-$1$DPI_SUFFIX.png")" >/dev/null
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
# Nothing asks yet: after 15 s the page says where it listens, and to power-cycle the device.
drive "has 1102 40 No request yet. Listening on pc0 10.93.0.1." "has 1102 1 power-cycle the device" \
  >/dev/null
grab listen-silent

# BOOTP: bootpc asks, unanswered, until the wizard is armed for it and answers.
(
  until ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 2 \
    >"$QNT_TMP/bootpc.out" 2>"$QNT_TMP/bootpc.err"; do :; done
) &
bootpc_loop=$!
# Down in the list selects the device the keys are on.
drive "row $MAC 60" "keys <down>" "enabled next 10" \
  "has 1102 10 If you do not see the MAC address of the device" >/dev/null
grab listen
# Each entry emptied and typed key by key, as a user does, three digits in a part: each part
# takes them all, and the device gets what was typed. Enter goes on.
drive next "page set-ip 20" "clear 1214" "keys 10.93.0.123" "clear 1215" "keys 255.255.255.0" \
  "clear 1216" "keys 10.93.0.254" "has 1214 10 10.93.0.123" "has 1215 10 255.255.255.0" \
  "has 1216 10 10.93.0.254" "enabled next 10" >/dev/null
grab set-ip
drive "keys <enter>" "page assign-ip 20" >/dev/null
qnt_wait_exit "$bootpc_loop" 60
((QNT_RC == 0)) || qnt_fail "bootpc got no answer: $(cat "$QNT_TMP/bootpc.err")"
qnt_expect_eq "IPADDR" 10.93.0.123 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" IPADDR)"
qnt_expect_eq "NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" NETMASK)"
qnt_expect_eq "GATEWAYS" 10.93.0.254 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" GATEWAYS)"
# The reply is out: the header says what the page does now, and Next is still not offered.
drive "sheet-has 12801 20 Checking whether the device answers at its new address." \
  "page assign-ip 1" "disabled next" >/dev/null
grab assign-ip
# bootpc never answers at its address; the page gives it its time, then says so.
drive "page completion 60" "has 1007 10 $MAC" "has 1007 10 IP address:" \
  "has 1007 10 10.93.0.123" "has 1007 10 255.255.255.0" "has 1007 10 10.93.0.254" >/dev/null
grab completion

# Back to Listen; DHCP: dhclient is offered the address, asks for it, is acked and sets it.
drive back "page listen 20"
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/../e2e/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
# Pasted with Ctrl+V: a dotted address fills the entry, a number the part it goes into.
drive "row $MAC 30" "select $MAC" "enabled next 10" next "page set-ip 20" \
  "clear 1214" "clip 10.93.0.60" "keys <ctrl-v>" "has 1214 10 10.93.0.60" \
  "clear 1216" "keys 10.93.0." "clip 1" "keys <ctrl-v>" "has 1216 10 10.93.0.1" \
  "address 1215 255.255.255.0" "enabled next 10" next "page assign-ip 20" "page completion 60" \
  "has 1007 10 10.93.0.60" "has 1007 10 10.93.0.1" >/dev/null
has_address() { ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet 10.93.0.60/24"; }
qnt_wait_for 10 has_address || qnt_fail "dhclient did not set the address: $(cat "$QNT_TMP/dhclient.err")"
qnt_running "$dhclient" || qnt_fail "dhclient ended: $(cat "$QNT_TMP/dhclient.err")"
qnt_file_has "$QNT_TMP/dhclient.err" "DHCPACK of 10.93.0.60 from 10.93.0.1" ||
  qnt_fail "dhclient took no ack from this PC: $(cat "$QNT_TMP/dhclient.err")"

# The Install page cancelled: the Failure page says that, and what the assignment came to; no
# word of a reply "sent before you left the page".
drive "check 1226" "enabled next 10" next "page install 20" >/dev/null
grab install
drive cancel "page failure 20" \
  "has 1007 10 You cancelled saving a copy of Quillnet; nothing was saved." \
  "has 1007 10 The IP assignment was not affected." "has 1007 10 answers" \
  "lacks 1007 before you left the page" >/dev/null

# Save a copy from there. A folder that cannot be made is a message box with Windows' reason,
# and the Failure page then says so; from there again, Quillnet.exe goes into a new folder,
# with its shortcuts in the desktop and Start-menu folders Windows reads.
drive "check 1226" "enabled next 10" next "page install 20" >/dev/null
drive 'type 1103 Z:\proc\Varnholt\Tools' next "box Error 20 Can't create specified folder." \
  "page failure 20" 'has 1007 10 Quillnet was not installed in Z:\proc\Varnholt\Tools:' \
  "lacks 1007 You cancelled saving a copy" \
  "enabled next 10" next "page install 20" 'type 1103 C:\Varnholt\Quillnet Tools' \
  "check 1227" "check 1228" next "page failure 20" \
  'has 1007 10 A copy of Quillnet was saved in C:\Varnholt\Quillnet Tools.' >/dev/null
cmp -s "$WIZARD" "$QNW_PREFIX/drive_c/Varnholt/Quillnet Tools/Quillnet.exe" ||
  qnt_fail "no copy of Quillnet.exe in C:\\Varnholt\\Quillnet Tools: $(ls -R "$QNW_PREFIX/drive_c/Varnholt" 2>&1)"
for link in "Desktop/Quillnet.lnk" "Start Menu/Programs/Quillnet.lnk"; do
  [[ -n "$(find "$QNW_PREFIX/drive_c/users" -path "*/$link" -newer "$WIZARD" 2>/dev/null)" ]] ||
    qnt_fail "no shortcut $link in the user's folders"
done

# Cancel on the Listen page: the Failure page says why the run ended, and no longer of the
# copy saved before; Finish ends the program.
drive back "page listen 20" cancel "page failure 20" "has 1007 10 WARNING:" \
  "has 1007 10 You have not selected a device for IP assignment." \
  "lacks 1007 A copy of Quillnet was saved"
grab failure
# The summary copied: the clipboard holds the rich edit's text while the program ends.
drive "click 1007" "keys <ctrl-a> <ctrl-c>" "clipboard-has You have not selected a device" \
  "enabled finish 10" finish "gone 30"
qnt_wait_exit "$WIZARD_PID" 30
((QNT_RC == 0)) || qnt_fail "Quillnet.exe exited $QNT_RC: $(cat "$QNT_TMP/wizard.err")"

# Port 67 taken by another program: the Listen page leads to the Failure page, which says so.
qnt_bg "$PC" "$QNT_TMP/holder.out" "$QNT_TMP/holder.err" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
print("bound", flush=True)
time.sleep(600)'
holder=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/holder.out" bound ||
  qnt_fail "could not take port 67: $(cat "$QNT_TMP/holder.err")"
start_wizard
drive "page welcome 60" "enabled next 10" next "page failure 20" "has 1007 10 ERROR:" "has 1007 10 67" \
  finish "gone 30"
qnt_wait_exit "$WIZARD_PID" 30
((QNT_RC == 0)) || qnt_fail "Quillnet.exe exited $QNT_RC after the port was taken"

# At 120 and 144 DPI (Windows' 125 % and 150 %): every page shows what it holds whole, with
# dhclient as the device, which answers at its address at once.
kill "$holder" "$dhclient" 2>/dev/null
qnt_wait_for 10 qnt_not_running "$holder" || qnt_fail "the holder of port 67 did not end"
# The copy saved above counts as installed, so no end page would offer the Install page again.
ip netns exec "$PC" wine reg delete 'HKCU\Software\Varnholt\Quillnet' /v Installed /f \
  </dev/null >/dev/null 2>&1 || qnt_fail "cannot forget the install in the prefix"
for dpi in 120 144; do
  DPI_SUFFIX="-$dpi"
  ip netns exec "$PC" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d "$dpi" /f </dev/null >/dev/null 2>&1 || qnt_fail "cannot set $dpi DPI in the prefix"
  ip -n "$DEV" -4 addr flush dev dev0
  rm -f "$QNT_TMP/leases"
  start_wizard
  drive "page welcome 60" >/dev/null
  grab welcome
  qnt_bg "$DEV" "$QNT_TMP/dhclient-$dpi.out" "$QNT_TMP/dhclient-$dpi.err" \
    dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
    -sf "$(dirname "${BASH_SOURCE[0]}")/../e2e/dhclient_set_address.sh" dev0
  dhclient=$QNT_LAST_PID
  drive next "page listen 20" "row $MAC 60" "keys <down>" "enabled next 10" >/dev/null
  grab listen
  drive next "page set-ip 20" "has 1214 10 10.93.0.60" "enabled next 10" >/dev/null
  grab set-ip
  drive next "page assign-ip 20" >/dev/null
  grab assign-ip
  drive "page completion 60" "has 1007 10 10.93.0.60" >/dev/null
  grab completion
  drive "check 1226" "enabled next 10" next "page install 20" >/dev/null
  grab install
  drive cancel "page failure 20" >/dev/null
  grab failure
  drive finish "gone 30" >/dev/null
  qnt_wait_exit "$WIZARD_PID" 30
  ((QNT_RC == 0)) || qnt_fail "Quillnet.exe exited $QNT_RC at $dpi DPI"
  kill "$dhclient" 2>/dev/null
done

qnt_log "PASS"
