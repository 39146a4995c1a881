# shellcheck shell=bash
# Helpers for the end-to-end tests of quillnet-cli.exe under Wine, on top of netns_lib.sh.
#
# Wine's server makes every socket of the programs it runs, so the sockets live in the network
# namespace the server was started in, not the program's. Each test therefore has a Wine prefix
# of its own (one server per prefix) and starts that server inside its PC namespace before
# running anything there; at exit the server is stopped before the namespaces go.
#
# Making a prefix takes long, so a run makes one (wine_prefix.sh) and hands it to the tests in
# QUILLNET_WINE_PREFIX_TEMPLATE; each test copies it. Without it a test makes its own.

# Results (QNW_PREFIX, QNW_RC, QNT_LAST_PID) are read by the sourcing script.
# shellcheck disable=SC2034

# shellcheck source=../e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/netns_lib.sh"

export WINEDEBUG=-all
QNW_SERVER_STARTED=""

# The exit trap: stops the test's Wine server while its prefix still exists, then does
# qnt_cleanup with the test's exit status.
qnw_cleanup() {
  local rc=$?
  set +e
  if [[ -n "$QNW_SERVER_STARTED" ]]; then
    WINEPREFIX="$QNW_PREFIX" timeout 20 wineserver -k >/dev/null 2>&1
  fi
  (exit "$rc")
  qnt_cleanup
}

# qnw_cli_test <quillnet-cli.exe> [bootpc] [dhclient]: checks the program under test and the
# peers the test uses, then does qnt_init. Sets EXE and PEER (the scriptable device).
qnw_cli_test() {
  EXE="${1:?usage: $0 <quillnet-cli.exe>}"
  shift
  [[ -f "$EXE" ]] || qnt_fail "no such program: $EXE"
  command -v wine >/dev/null || qnt_fail "wine is not installed (Debian packages wine, wine64)"
  command -v wineserver >/dev/null || qnt_fail "wineserver is not installed (Debian package wine)"
  local peer
  for peer in "$@"; do
    case "$peer" in
      bootpc) command -v bootpc >/dev/null || qnt_fail "bootpc is not installed (Debian package bootpc)" ;;
      dhclient) command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)" ;;
    esac
  done
  command -v python3 >/dev/null || qnt_fail "python3 is not installed"
  PEER="$(dirname "${BASH_SOURCE[0]}")/../e2e/bootp_peer.py"
  qnt_init
  trap qnw_cleanup EXIT
  QNW_PREFIX="$QNT_TMP/wine"
}

# qnw_copy_prefix <template> <prefix>: a prefix of its own from a made one. The programs and
# libraries are hard links, as nothing writes them; every other file is a copy, since Wine
# rewrites a registry file with more than one link in place, which would reach the template.
qnw_copy_prefix() {
  [[ -f "$1/system.reg" ]] || qnt_fail "not a Wine prefix: $1"
  cp -al "$1" "$2" || qnt_fail "cannot copy the Wine prefix $1"
  local file
  while IFS= read -r -d '' file; do
    cp -p "$file" "$file.copy" && mv "$file.copy" "$file"
  done < <(find "$2" -type f -links +1 -not -iregex '.*\.\(dll\|exe\|drv\|sys\|ocx\|cpl\|acm\|tlb\|ax\|ds\)' -print0)
}

# qnw_start_wine <ns>: the test's prefix, and its Wine server running inside the namespace. A
# first program run there starts Wine's own services, with no output of the test's attached.
qnw_start_wine() {
  if [[ -n "${QUILLNET_WINE_PREFIX_TEMPLATE:-}" ]]; then
    qnw_copy_prefix "$QUILLNET_WINE_PREFIX_TEMPLATE" "$QNW_PREFIX"
  else
    mkdir "$QNW_PREFIX"
  fi
  export WINEPREFIX="$QNW_PREFIX"
  QNW_SERVER_STARTED=1
  ip netns exec "$1" wineserver -p </dev/null >"$QNT_TMP/wineserver.log" 2>&1 ||
    qnt_fail "wineserver did not start: $(cat "$QNT_TMP/wineserver.log")"
  if [[ ! -f "$QNW_PREFIX/system.reg" ]]; then
    qnt_log "no QUILLNET_WINE_PREFIX_TEMPLATE: making a Wine prefix, which takes a while"
    ip netns exec "$1" wineboot -i </dev/null >"$QNT_TMP/wineboot.log" 2>&1 ||
      qnt_fail "wineboot failed: $(cat "$QNT_TMP/wineboot.log")"
  fi
  # Wine links the user's Desktop, Documents and the like to this machine's home folder; a
  # test's shortcuts and files stay in the test's prefix.
  local folder
  while IFS= read -r -d '' folder; do
    rm "$folder" && mkdir "$folder" || qnt_fail "cannot make $folder a folder of the prefix"
  done < <(find "$QNW_PREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -type l -print0)
  local version
  version="$(ip netns exec "$1" wine "$EXE" --version </dev/null 2>"$QNT_TMP/version.err" | tr -d '\r')" ||
    qnt_fail "$EXE --version failed: $(cat "$QNT_TMP/version.err")"
  [[ "$version" == "quillnet-cli "* ]] || qnt_fail "$EXE --version printed '$version'"
}

# qnw_bg <ns> <label> <arguments...>: the program in the background in the namespace; its
# output in $QNT_TMP/<label>.out and .err, its pid in $QNT_LAST_PID (the Wine process is the
# program's own, so signals reach it).
qnw_bg() {
  local ns="$1" label="$2"
  shift 2
  qnt_bg "$ns" "$QNT_TMP/$label.out" "$QNT_TMP/$label.err" wine "$EXE" "$@" </dev/null
}

# qnw_run <ns> <label> <arguments...>: the program in the namespace until it ends; its exit
# status in $QNW_RC, its output as for qnw_bg.
qnw_run() {
  local ns="$1" label="$2"
  shift 2
  QNW_RC=0
  timeout 60 ip netns exec "$ns" wine "$EXE" "$@" </dev/null \
    >"$QNT_TMP/$label.out" 2>"$QNT_TMP/$label.err" || QNW_RC=$?
}

# qnw_text <file>: the program's output with Windows' line ends read as Linux ones.
qnw_text() { tr -d '\r' <"$1"; }

# qnw_expect_line <file> <whole line>: the output holds exactly that line.
qnw_expect_line() {
  qnw_text "$1" | grep -qxF -- "$2" || qnt_fail "no line '$2' in $1: $(qnw_text "$1")"
}

# qnw_windows_path <path>: the Windows name of a Linux path (Wine's drive Z: is the root).
qnw_windows_path() { echo "Z:${1//\//\\}"; }

# qnw_windows_pids <ns> <program.exe>: the Windows process ids of the program's running
# copies, in decimal, as Wine's debugger lists them.
qnw_windows_pids() {
  ip netns exec "$1" wine winedbg --command "info process" </dev/null 2>/dev/null |
    tr -d '\r' | sed -n "s/^[ =]*\([0-9a-f]\{8\}\) .*'$2'\$/\1/p" |
    while read -r hex; do echo $((16#$hex)); done
}

# qnw_start_display <ns>: a virtual display of its own (Xvfb) inside the namespace, as DISPLAY,
# for the programs with a window.
qnw_start_display() {
  command -v Xvfb >/dev/null || qnt_fail "Xvfb is not installed (Debian package xvfb)"
  qnt_bg "$1" "$QNT_TMP/xvfb.out" "$QNT_TMP/xvfb.err" \
    Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24
  display_ready() { grep -qE '^[0-9]+$' "$QNT_TMP/xvfb.out"; }
  qnt_wait_for 30 display_ready || qnt_fail "Xvfb did not start: $(cat "$QNT_TMP/xvfb.err")"
  export DISPLAY=":$(head -n 1 "$QNT_TMP/xvfb.out")"
}
