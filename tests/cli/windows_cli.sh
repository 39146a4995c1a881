#!/bin/bash
# quillnet-cli.exe as a Windows user meets it, run under Wine: the arguments reach it in UTF-8
# (a hosts file under a folder with an accent is read, and named as typed), the help speaks of
# no SIGTERM, and doctor gives no Linux advice (setcap, usermod, sysctl, nft, root), also when
# another program holds port 67 and Wine does not say which. It runs in a network namespace of
# its own, with its Wine server there, so a port 67 taken on the build machine changes nothing.
# Usage: windows_cli.sh <wine prefix to copy> <quillnet-cli.exe> <the project's version>
# shellcheck source=../e2e_windows/wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e_windows/wine_lib.sh"

PREFIX="${1:?usage: $0 <prefix> <quillnet-cli.exe> <version>}"
CLI="${2:?}"
VERSION="${3:?}"
qnw_cli_test "$CLI"
[[ -f "$PREFIX/system.reg" ]] && export QUILLNET_WINE_PREFIX_TEMPLATE="${QUILLNET_WINE_PREFIX_TEMPLATE:-$PREFIX}"
qnt_make_ns NS cli
ip -n "$NS" link set lo up
qnw_start_wine "$NS"
TMP="$QNT_TMP"
failures=0

fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}

# cli <arguments...>: runs the program; its status in $rc, its output (CR LF read as LF) in
# $TMP/out and $TMP/err.
cli() {
  rc=0
  timeout 60 ip netns exec "$NS" wine "$CLI" "$@" >"$TMP/out.raw" 2>"$TMP/err.raw" </dev/null || rc=$?
  tr -d '\r' <"$TMP/out.raw" >"$TMP/out"
  tr -d '\r' <"$TMP/err.raw" >"$TMP/err"
}

# expect <label> <exit status> <file> <whole expected text>
expect() {
  local actual
  actual="$(cat "$3")"
  if [[ "$rc" != "$2" || "$actual" != "$4" ]]; then
    fail "$1: expected exit $2 and <$4>, got exit $rc and <$actual>"
  fi
}

cli --version
expect "version" 0 "$TMP/out" "quillnet-cli $VERSION"

# Z: is Wine's drive for the Linux root.
folder="$TMP/Jürgen Ünal"
mkdir "$folder"
printf 'MAC,IP,MASK\r\nzz,10.0.0.5,255.255.255.0\r\n' >"$folder/hosts.csv"
windows="Z:${folder//\//\\}"
cli serve --hosts "$windows\\hosts.csv"
expect "hosts file in a folder with accents" 3 "$TMP/err" \
  "$windows\\hosts.csv line 2: MAC address 'zz' is not six two-digit hexadecimal numbers separated by ':' or '-'."
cli serve --hosts "$windows"
expect "hosts file that is a folder" 2 "$TMP/err" \
  "The hosts file '$windows' cannot be read: it is a directory."
cli serve --hosts "$windows\\none.csv"
expect "missing hosts file" 2 "$TMP/err" \
  "The hosts file '$windows\\none.csv' cannot be read: it does not exist."

cli doctor --json
[[ "$rc" == 0 || "$rc" == 1 ]] || fail "doctor exited $rc: $(cat "$TMP/err")"
for check in "port 67" permission "ARP probes" "receive buffer" interfaces firewall; do
  grep -qF "\"check\":\"$check\"" "$TMP/out" || fail "doctor made no $check check: $(cat "$TMP/out")"
done
grep -qF '"check":"firewall","event":"check","status":"not checked"' "$TMP/out" ||
  fail "doctor claims to have checked the firewall: $(cat "$TMP/out")"
if grep -Eiw 'setcap|usermod|sysctl|nft|root|capability|quillnet-net-helper' "$TMP/out" "$TMP/err"; then
  fail "doctor gives a Windows user Linux advice"
fi

cli help serve
grep -q "until Ctrl+C\.$" "$TMP/out" || fail "help serve does not say that Ctrl+C ends it: $(cat "$TMP/out")"
if grep -q SIGTERM "$TMP/out"; then fail "help speaks of SIGTERM, which Windows has not"; fi

# The help as a Windows user reads it: the program by its name, not the path it was started
# from; options named for what they take; each subcommand's own exit codes; no Markdown.
for subcommand in "" listen assign serve startup history doctor; do
  # shellcheck disable=SC2086
  cli help $subcommand
  label="help${subcommand:+ $subcommand}"
  [[ "$rc" == 0 ]] || fail "$label exited $rc: $(cat "$TMP/err")"
  head -n 5 "$TMP/out" | grep -q "^Usage: quillnet-cli" ||
    fail "$label does not name the program as quillnet-cli: $(head -n 5 "$TMP/out")"
  if grep -Eq '[A-Z]:\\|\.exe' "$TMP/out"; then fail "$label shows a path: $(cat "$TMP/out")"; fi
  if grep -q 'TEXT:' "$TMP/out"; then fail "$label labels an option TEXT:...: $(cat "$TMP/out")"; fi
  if grep -q '`' "$TMP/out"; then fail "$label has Markdown backticks: $(cat "$TMP/out")"; fi
done
cli help startup
grep -q "^Exit codes: 0 " "$TMP/out" || fail "help startup names no exit codes: $(cat "$TMP/out")"
if grep -q "timeout\|the reply was sent" "$TMP/out"; then
  fail "help startup names another subcommand's exit codes: $(cat "$TMP/out")"
fi
cli assign 02:00:5e:10:20:30 10.0.0.5 255.255.255.255
if grep -q '`' "$TMP/err"; then fail "a refusal has Markdown backticks: $(cat "$TMP/err")"; fi

# Another program holds port 67, which Wine does not name: doctor and listen say so in
# Windows' words.
qnt_bg "$NS" "$TMP/holder.out" "$TMP/holder.err" python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
print("bound", flush=True)
time.sleep(600)'
qnt_wait_for 10 qnt_file_has "$TMP/holder.out" bound || fail "could not take port 67: $(cat "$TMP/holder.err")"
cli doctor
grep -q "port 67" "$TMP/out" || fail "doctor says nothing of port 67: $(cat "$TMP/out")"
cli listen
[[ "$rc" == 4 ]] || fail "listen with port 67 taken exited $rc: $(cat "$TMP/err")"
grep -qi "netstat" "$TMP/err" "$TMP/out" || fail "listen does not say how to name the holder: $(cat "$TMP/err")"
if grep -Eiw 'root|setcap|sudo' "$TMP/out" "$TMP/err"; then
  fail "doctor or listen gives a Windows user Linux advice with port 67 taken"
fi

((failures == 0)) || exit 1
qnt_log PASS
