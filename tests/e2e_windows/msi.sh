#!/bin/bash
# The MSI under Wine, as a Windows user meets it: msiexec /i /qn puts the wizard and
# quillnet-cli.exe into Program Files\Varnholt\Quillnet, a Start-menu entry for the wizard and
# an entry in the list of installed programs; the installed wizard starts and ends; msiexec /x
# /qn takes all of it away again.
# Usage: msi.sh <build folder of the Windows build>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

BUILD="${1:?usage: $0 <build-windows>}"
MSI="$(ls "$BUILD"/Quillnet-*-win64.msi 2>/dev/null | head -n 1)"
DRIVER="$BUILD/tests/e2e_windows/wizard_driver.exe"
[[ -f "$MSI" && -f "$DRIVER" ]] || qnt_fail "no MSI or wizard_driver.exe in $BUILD"
qnw_cli_test "$BUILD/cli/quillnet-cli.exe"
qnt_make_ns PC msi
qnw_start_display "$PC"
qnw_start_wine "$PC"

# in_wine <label> <program> <arguments...>: runs it in the namespace's Wine; status in $QNW_RC.
in_wine() {
  local label="$1"
  shift
  QNW_RC=0
  timeout 120 ip netns exec "$PC" wine "$@" </dev/null >"$QNT_TMP/$label.out" 2>"$QNT_TMP/$label.err" ||
    QNW_RC=$?
}
installed_programs() {
  in_wine reg reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s
  qnw_text "$QNT_TMP/reg.out"
}
links() { find "$QNW_PREFIX/drive_c" -iname 'Quillnet.lnk' -ipath '*Start Menu*'; }
readonly FOLDER="$QNW_PREFIX/drive_c/Program Files/Varnholt/Quillnet"

in_wine install msiexec /i "$(qnw_windows_path "$MSI")" /qn
((QNW_RC == 0)) || qnt_fail "msiexec /i exited $QNW_RC: $(cat "$QNT_TMP/install.err")"
for file in Quillnet.exe quillnet-cli.exe README.txt copyright.txt; do
  [[ -f "$FOLDER/$file" ]] || qnt_fail "no $file in $FOLDER: $(ls -R "$QNW_PREFIX/drive_c/Program Files")"
done
[[ -n "$(links)" ]] || qnt_fail "no Start-menu entry Quillnet.lnk"
installed_programs | grep -qE 'DisplayName +REG_SZ +Quillnet$' ||
  qnt_fail "Quillnet is not in the list of installed programs"
installed_programs | grep -qE 'DisplayVersion +REG_SZ +1\.1\.2\.45$' ||
  qnt_fail "the installed programs' entry names no version 1.1.2.45"

# The installed wizard starts; Cancel and Finish end it.
qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" wine "$FOLDER/Quillnet.exe"
wizard=$QNT_LAST_PID
in_wine driver "$DRIVER" "page welcome 60" "enabled next 10" cancel "page failure 20" \
  "enabled finish 10" finish "gone 30"
((QNW_RC == 0)) || qnt_fail "the installed wizard: $(qnw_text "$QNT_TMP/driver.err")"
qnt_wait_exit "$wizard" 30
((QNT_RC == 0)) || qnt_fail "the installed Quillnet.exe exited $QNT_RC"

in_wine uninstall msiexec /x "$(qnw_windows_path "$MSI")" /qn
((QNW_RC == 0)) || qnt_fail "msiexec /x exited $QNW_RC: $(cat "$QNT_TMP/uninstall.err")"
[[ ! -e "$QNW_PREFIX/drive_c/Program Files/Varnholt" ]] ||
  qnt_fail "left behind: $(find "$QNW_PREFIX/drive_c/Program Files/Varnholt")"
[[ -z "$(links)" ]] || qnt_fail "the Start-menu entry is left: $(links)"
! installed_programs | grep -q 'Quillnet' || qnt_fail "Quillnet is still in the list of installed programs"

qnt_log "PASS"
