#!/bin/bash
# quillnet-cli.exe as a Windows user meets it, run under Wine: the arguments reach it in UTF-8
# (a hosts file under a folder with an accent is read, and named as typed), and doctor gives
# no Linux advice (setcap, usermod, sysctl, nft, root). Nothing here binds port 67 but doctor,
# which only tries.
# Usage: windows_cli.sh <wine-run.sh> <wine prefix> <quillnet-cli.exe> <the project's version>
set -euo pipefail

RUN="${1:?usage: $0 <wine-run.sh> <prefix> <quillnet-cli.exe> <version>}"
PREFIX="${2:?}"
CLI="${3:?}"
VERSION="${4:?}"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
failures=0

fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}

# cli <arguments...>: runs the program; its status in $rc, its output (CR LF read as LF) in
# $TMP/out and $TMP/err.
cli() {
  rc=0
  "$RUN" "$PREFIX" "$CLI" "$@" >"$TMP/out.raw" 2>"$TMP/err.raw" </dev/null || rc=$?
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

# Wine says on standard error when it makes or updates its prefix: once, before the checks.
"$RUN" "$PREFIX" "$CLI" --version >/dev/null 2>&1 </dev/null || true

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

((failures == 0)) || exit 1
echo PASS
