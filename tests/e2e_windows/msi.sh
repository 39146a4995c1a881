#!/bin/bash
# The MSI, as a Windows user meets it. First its tables (msiinfo, Debian's msitools): per
# machine, the Start-menu link in the common Start menu, the firewall rules for UDP port 67
# added after the files and removed before them by deferred actions that run elevated and
# whose failure does not stop the install. Then under Wine: msiexec /i with its normal
# interface shows the installer's window, which says that Quillnet is installed; the wizard
# and quillnet-cli.exe are in Program Files\Varnholt\Quillnet, with a link in the common Start
# menu, an entry in the list of installed programs with its InstallLocation, and the firewall
# rules asked of netsh (a stand-in that records them, and fails, which the install survives);
# the wizard started from there counts as installed and offers no install; msiexec /x takes all
# of it away again, the rules too. The user's own link, which the wizard's Install page writes,
# is never touched.
# Usage: msi.sh <build folder of the Windows build>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

BUILD="${1:?usage: $0 <build-windows>}"
MSI="$(ls "$BUILD"/Quillnet-*-win64.msi 2>/dev/null | head -n 1)"
DRIVER="$BUILD/tests/e2e_windows/wizard_driver.exe"
NETSH="$BUILD/tests/e2e_windows/fake_netsh.exe"
[[ -f "$MSI" && -f "$DRIVER" && -f "$NETSH" ]] ||
  qnt_fail "no MSI, wizard_driver.exe or fake_netsh.exe in $BUILD"
command -v msiinfo >/dev/null || qnt_fail "msiinfo is not installed (Debian package msitools)"
qnw_cli_test "$BUILD/cli/quillnet-cli.exe"

# ---- the tables ------------------------------------------------------------------------------
# row <table> <first column>: that row of the table, its columns separated by tabs.
row() { msiinfo export "$MSI" "$1" | tail -n +4 | tr -d '\r' | awk -F'\t' -v key="$2" '$1 == key'; }
column() { cut -f "$1" <<<"$2"; }

[[ "$(row Property ALLUSERS)" == $'ALLUSERS\t1' ]] || qnt_fail "the package is not per machine"
link="$(row Shortcut StartMenuShortcut)"
[[ "$(column 2 "$link")" == ProgramMenuFolder && "$(column 3 "$link")" == Quillnet ]] ||
  qnt_fail "the Start-menu link is not Quillnet in ProgramMenuFolder: $link"
readonly kDeferredElevatedIgnored=$((0x400 | 0x800 | 0x40))
# rule_action <action> <sequence condition> after|before <sequence number> <command>
rule_action() {
  local action
  action="$(row CustomAction "$1")"
  [[ "$(column 4 "$action")" == "\"[System64Folder]netsh.exe\" advfirewall firewall $5" ]] ||
    qnt_fail "$1 runs '$(column 4 "$action")'"
  local type
  type="$(column 2 "$action")"
  (((type & 0x3F) == 34 && (type & kDeferredElevatedIgnored) == kDeferredElevatedIgnored &&
    (type & 0x100) == 0)) || qnt_fail "$1 (type $type) is not a deferred, elevated exe action whose failure is ignored"
  local step
  step="$(row InstallExecuteSequence "$1")"
  [[ "$(column 2 "$step")" == "$2" ]] || qnt_fail "$1 runs when '$(column 2 "$step")'"
  local at
  at="$(column 3 "$step")"
  if [[ "$3" == after ]]; then ((at > $4)); else ((at < $4)); fi ||
    qnt_fail "$1 is at $at, not $3 $4"
}
files="$(column 3 "$(row InstallExecuteSequence InstallFiles)")"
removal="$(column 3 "$(row InstallExecuteSequence RemoveFiles)")"
for pair in Wizard:Quillnet:Quillnet.exe Cli:quillnet-cli:quillnet-cli.exe; do
  IFS=: read -r key rule exe <<<"$pair"
  add="add rule name=\"$rule\" dir=in action=allow program=\"[INSTALLDIR]$exe\" protocol=UDP localport=67 profile=any"
  delete="delete rule name=\"$rule\" dir=in program=\"[INSTALLDIR]$exe\" protocol=UDP localport=67"
  rule_action "Add${key}FirewallRule" "NOT Installed" after "$files" "$add"
  rule_action "Remove${key}FirewallRule" 'REMOVE~="ALL"' before "$removal" "$delete"
done
location="$(row CustomAction SetInstallLocation)"
[[ "$(column 3 "$location")" == ARPINSTALLLOCATION && "$(column 4 "$location")" == "[INSTALLDIR]" ]] ||
  qnt_fail "InstallLocation is not set: $location"
for dialog in ProgressDlg ExitDlg; do
  [[ -n "$(row InstallUISequence "$dialog")" ]] || qnt_fail "the installer does not show $dialog"
done

# ---- under Wine ------------------------------------------------------------------------------
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
# msiexec_with_window <label> <option> <text>: msiexec with its normal interface; its window
# says the text, and Finish ends it.
msiexec_with_window() {
  qnt_bg "$PC" "$QNT_TMP/$1.out" "$QNT_TMP/$1.err" \
    wine msiexec "$2" "$(qnw_windows_path "$MSI")" /l*v "$(qnw_windows_path "$QNT_TMP/$1.log")"
  local msiexec=$QNT_LAST_PID
  in_wine "$1-window" "$DRIVER" "window Quillnet 120 $3" "press Quillnet Finish"
  ((QNW_RC == 0)) || qnt_fail "msiexec $2 showed no window saying '$3': $(qnw_text "$QNT_TMP/$1-window.err")"
  qnt_log "msiexec $2 shows: $(qnw_text "$QNT_TMP/$1-window.out" | tr '\n' ' ')"
  qnt_wait_exit "$msiexec" 60
  ((QNT_RC == 0)) || qnt_fail "msiexec $2 exited $QNT_RC"
}
readonly DRIVE="$QNW_PREFIX/drive_c"
readonly FOLDER="$DRIVE/Program Files/Varnholt/Quillnet"
readonly COMMON_LINK="$DRIVE/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillnet.lnk"
USER_LINK="$DRIVE/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillnet.lnk"
readonly USER_LINK
readonly CALLS="$DRIVE/windows/system32/netsh-calls.txt"
netsh_calls() { tr -d '\r' <"$CALLS" 2>/dev/null | sed 's/^"C:\\windows\\system32\\netsh.exe" //'; }
rules() {
  local verb="$1" exe
  for exe in Quillnet quillnet-cli; do
    if [[ "$verb" == add ]]; then
      echo "advfirewall firewall add rule name=\"$exe\" dir=in action=allow program=\"C:\\Program Files\\Varnholt\\Quillnet\\$exe.exe\" protocol=UDP localport=67 profile=any"
    else
      echo "advfirewall firewall delete rule name=\"$exe\" dir=in program=\"C:\\Program Files\\Varnholt\\Quillnet\\$exe.exe\" protocol=UDP localport=67"
    fi
  done
}

# netsh's stand-in, which fails for now; and a link of the user's own where the Install page
# writes it.
cp "$NETSH" "$DRIVE/windows/system32/netsh.exe" || qnt_fail "cannot put the netsh stand-in in place"
in_wine override reg add 'HKCU\Software\Wine\DllOverrides' /v netsh.exe /d native /f
((QNW_RC == 0)) || qnt_fail "cannot make Wine run the netsh stand-in"
touch "$DRIVE/windows/system32/netsh-fails.txt"
mkdir -p "$(dirname "$USER_LINK")"
echo "the user's own link" >"$USER_LINK"

msiexec_with_window install /i "Quillnet is installed"
for file in Quillnet.exe quillnet-cli.exe README.txt copyright.txt; do
  [[ -f "$FOLDER/$file" ]] || qnt_fail "no $file in $FOLDER: $(ls -R "$DRIVE/Program Files")"
done
[[ -f "$COMMON_LINK" ]] || qnt_fail "no Quillnet.lnk in the common Start menu: $(find "$DRIVE" -iname Quillnet.lnk)"
[[ "$(cat "$USER_LINK")" == "the user's own link" ]] || qnt_fail "the user's own Quillnet.lnk was replaced"
installed_programs | grep -qE 'DisplayName +REG_SZ +Quillnet$' ||
  qnt_fail "Quillnet is not in the list of installed programs"
installed_programs | grep -qE 'DisplayVersion +REG_SZ +1\.1\.2\.45$' ||
  qnt_fail "the installed programs' entry names no version 1.1.2.45"
installed_programs | grep -qF 'C:\Program Files\Varnholt\Quillnet\' ||
  qnt_fail "the installed programs' entry names no InstallLocation: $(installed_programs | grep -i location)"
[[ "$(netsh_calls)" == "$(rules add)" ]] || qnt_fail "netsh was asked: $(netsh_calls)"

# The installed wizard counts as installed: its end pages offer no install.
qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" wine "$FOLDER/Quillnet.exe"
wizard=$QNT_LAST_PID
in_wine driver "$DRIVER" "page welcome 60" "enabled next 10" cancel "page failure 20" \
  "enabled finish 10" "hidden 1226" finish "gone 30"
((QNW_RC == 0)) || qnt_fail "the installed wizard: $(qnw_text "$QNT_TMP/driver.err")"
qnt_wait_exit "$wizard" 30
((QNT_RC == 0)) || qnt_fail "the installed Quillnet.exe exited $QNT_RC"

rm "$DRIVE/windows/system32/netsh-fails.txt"
: >"$CALLS"
msiexec_with_window uninstall /x "Quillnet is removed"
[[ ! -e "$DRIVE/Program Files/Varnholt" ]] ||
  qnt_fail "left behind: $(find "$DRIVE/Program Files/Varnholt")"
[[ ! -e "$COMMON_LINK" ]] || qnt_fail "the Start-menu entry is left: $COMMON_LINK"
[[ "$(cat "$USER_LINK" 2>/dev/null)" == "the user's own link" ]] || qnt_fail "the user's own Quillnet.lnk was removed"
! installed_programs | grep -q 'Quillnet' || qnt_fail "Quillnet is still in the list of installed programs"
[[ "$(netsh_calls)" == "$(rules delete)" ]] || qnt_fail "netsh was asked: $(netsh_calls)"

qnt_log "PASS"
