#!/bin/bash
# quillnet-cli refuses what it cannot send exactly as typed: each case runs the real program and
# compares its exit status and its whole standard error, final line break included. Nothing here
# binds a port or sends a datagram: every refusal comes before the server starts. With --json
# every refusal is one JSON object. `help` prints what --help prints. As root, runs as an
# unprivileged user show a hosts file it may not read and the command that lets the program
# bind port 67.
# Usage: arguments.sh <quillnet-cli> <the project's version>
set -euo pipefail

CLI="${1:?usage: $0 <quillnet-cli> <version>}"
VERSION="${2:?usage: $0 <quillnet-cli> <version>}"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
failures=0

# check <label> <exit status> <standard error without its final line break> <arguments...>
check() {
  local label="$1" code="$2" expected="$3"
  shift 3
  local rc=0 actual
  "$CLI" "$@" >"$TMP/out" 2>"$TMP/err" </dev/null || rc=$?
  actual="$(cat "$TMP/err"; echo _)"
  actual="${actual%_}"
  if [[ "$rc" != "$code" || "$actual" != "$expected"$'\n' ]]; then
    echo "FAIL $label: expected exit $code and <$expected\\n>, got exit $rc and <$actual>" >&2
    failures=$((failures + 1))
  fi
  if [[ -s "$TMP/out" ]]; then
    echo "FAIL $label: a refusal printed on standard output: $(cat "$TMP/out")" >&2
    failures=$((failures + 1))
  fi
}

# prints <label> <file with the expected standard output> <arguments...>: exit 0, nothing on
# standard error.
prints() {
  local label="$1" expected="$2"
  shift 2
  local rc=0
  "$CLI" "$@" >"$TMP/out" 2>"$TMP/err" </dev/null || rc=$?
  if [[ "$rc" != 0 || -s "$TMP/err" ]] || ! cmp -s "$TMP/out" "$expected"; then
    echo "FAIL $label: exit $rc, stderr <$(cat "$TMP/err")>, stdout differs:" >&2
    diff "$expected" "$TMP/out" >&2 || true
    failures=$((failures + 1))
  fi
}

json_error() { printf '{"event":"error","message":"%s"}' "$1"; }

readonly MAC=02:00:5e:10:20:30
readonly NOT_QUAD="is not four numbers 0–255 separated by dots."
readonly NOT_MAC="is not six two-digit hexadecimal numbers separated by ':' or '-'."
readonly TIMEOUT_RULE="--timeout: must be a number of seconds from 0.001 to 86400."
readonly CONFIRM_RULE="--confirm: must be 0 (no check) or a number of seconds from 0.001 to 86400."

check "ip above 255" 3 "IP address '256.1.1.1' $NOT_QUAD" assign $MAC 256.1.1.1 255.255.255.0
check "leading zero" 3 "IP address '192.0.2.050' $NOT_QUAD" assign $MAC 192.0.2.050 255.255.255.0
check "three parts" 3 "IP address '1.2.3' $NOT_QUAD" assign $MAC 1.2.3 255.255.255.0
check "hexadecimal" 3 "IP address '0x0a000005' $NOT_QUAD" assign $MAC 0x0a000005 255.0.0.0
check "mask junk" 3 "Subnet mask '255.255.255.0junk' $NOT_QUAD" \
  assign $MAC 10.0.0.5 255.255.255.0junk
check "gateway" 3 "Default gateway '10.0.0.1 ' $NOT_QUAD" \
  assign $MAC 10.0.0.5 255.255.255.0 "10.0.0.1 "
check "set ip rule" 3 "ERROR: Invalid Subnet Mask." assign $MAC 10.0.0.5 255.0.255.0
check "multicast" 3 "ERROR: Can't assign a Multicast address." assign $MAC 224.0.0.5 255.0.0.0
check "short mac" 2 "MAC address '2:0:5e:10:20:30' $NOT_MAC" assign 2:0:5e:10:20:30 10.0.0.5 255.0.0.0
check "mac digits" 2 "MAC address 'abc' $NOT_MAC" assign abc 10.0.0.5 255.0.0.0
check "mac without groups" 2 "MAC address '02005e102030' $NOT_MAC" assign 02005e102030 10.0.0.5 255.0.0.0
check "zero mac" 2 "MAC address '00-00-00-00-00-00' is no device's address." \
  assign 00-00-00-00-00-00 10.0.0.5 255.0.0.0
check "broadcast mac" 2 "MAC address 'ff:ff:ff:ff:ff:ff' is the broadcast address, no device's address." \
  assign ff:ff:ff:ff:ff:ff 10.0.0.5 255.0.0.0
check "multicast mac" 2 "MAC address '01-00-5E-00-00-FB' is a multicast address, no device's address." \
  assign 01-00-5E-00-00-FB 10.0.0.5 255.0.0.0
check "timeout zero" 2 "$TIMEOUT_RULE" assign $MAC 10.0.0.5 255.0.0.0 --timeout 0
check "timeout huge" 2 "$TIMEOUT_RULE" assign $MAC 10.0.0.5 255.0.0.0 --timeout 1e400
check "timeout nan" 2 "$TIMEOUT_RULE" assign $MAC 10.0.0.5 255.0.0.0 --timeout nan
check "timeout above a day" 2 "$TIMEOUT_RULE" serve --hosts x --timeout 86400.5
check "timeout text" 2 "$TIMEOUT_RULE" serve --hosts x --timeout soon
check "timeout below a millisecond" 2 "$TIMEOUT_RULE" serve --hosts x --timeout 5e-324
check "confirm below a millisecond" 2 "$CONFIRM_RULE" assign $MAC 10.0.0.5 255.0.0.0 --confirm 1e-9
check "confirm negative" 2 "$CONFIRM_RULE" assign $MAC 10.0.0.5 255.0.0.0 --confirm -1
check "confirm above a day" 2 "$CONFIRM_RULE" assign $MAC 10.0.0.5 255.0.0.0 --confirm 86401
check "confirm infinite" 2 "$CONFIRM_RULE" assign $MAC 10.0.0.5 255.0.0.0 --confirm inf
check "confirm text" 2 "$CONFIRM_RULE" assign $MAC 10.0.0.5 255.0.0.0 --confirm later
check "keep without the check" 2 "--keep needs the check at the new address: --confirm must be above 0." \
  assign $MAC 10.0.0.5 255.0.0.0 --keep --confirm 0
# 0 turns the check off, so it is read, and the address check refuses next.
check "confirm zero" 3 "IP address '256.1.1.1' $NOT_QUAD" assign $MAC 256.1.1.1 255.0.0.0 --confirm 0
# A refusal quotes a few dozen characters of what it was given, with every byte that is not
# printable UTF-8 escaped.
check "long address" 3 "IP address '$(printf '1%.0s' {1..40})…' $NOT_QUAD" \
  assign $MAC "$(printf '1%.0s' {1..100000})" 255.0.0.0
check "control and broken bytes" 2 "MAC address 'a\\x1B[2J\\xFFé\\' $NOT_MAC" \
  assign $'a\e[2J\xffé\\' 10.0.0.5 255.0.0.0
readonly SUBCOMMANDS="Subcommands: listen, assign, serve, startup, history, doctor, help."
check "unknown subcommand" 2 "Unknown subcommand 'asign'. $SUBCOMMANDS" asign $MAC 10.0.0.5 255.0.0.0
check "no subcommand" 2 "A subcommand is required. $SUBCOMMANDS"
check "help on no subcommand" 2 "Unknown subcommand 'serv'. $SUBCOMMANDS" help serv

# Refusals of the arguments themselves, the parser's included, are JSON too.
check "json timeout zero" 2 "$(json_error "$TIMEOUT_RULE")" \
  assign $MAC 10.0.0.5 255.0.0.0 --timeout 0 --json
check "json confirm text" 2 "$(json_error "$CONFIRM_RULE")" \
  assign --json $MAC 10.0.0.5 255.0.0.0 --confirm x
check "json missing mac" 2 "$(json_error "MAC is required")" assign --json
check "json missing hosts" 2 "$(json_error "--hosts is required")" serve --json --once
check "json unknown subcommand" 2 "$(json_error "Unknown subcommand 'asign'. $SUBCOMMANDS")" \
  asign $MAC --json
check "json extra argument" 2 "$(json_error "The following argument was not expected: x")" \
  assign $MAC 10.0.0.5 255.0.0.0 10.0.0.1 x --json

"$CLI" --help >"$TMP/help.txt"
"$CLI" serve --help >"$TMP/serve-help.txt"
grep -q -- "--hosts" "$TMP/serve-help.txt" || { echo "FAIL serve --help: no --hosts" >&2; exit 1; }
prints "help" "$TMP/help.txt" help
prints "help serve" "$TMP/serve-help.txt" help serve
printf 'quillnet-cli %s\n' "$VERSION" >"$TMP/version.txt"
prints "--version" "$TMP/version.txt" --version

check "missing hosts file" 2 "The hosts file '$TMP/none.csv' cannot be read: it does not exist." \
  serve --hosts "$TMP/none.csv"
check "hosts file is a directory" 2 "The hosts file '$TMP' cannot be read: it is a directory." \
  serve --hosts "$TMP"
: >"$TMP/empty.csv"
check "empty hosts file" 3 "$TMP/empty.csv lists no device." serve --hosts "$TMP/empty.csv"
check "endless hosts file" 3 "/dev/zero is larger than 16 MiB, the most a hosts file may hold." \
  serve --hosts /dev/zero

# A FIFO: its writer is waited for, and one that never comes, or that holds it open but never
# writes, ends the wait at the time-out, or at Ctrl+C.
mkfifo "$TMP/hosts.fifo"
check "FIFO without a writer" 6 \
  "The hosts file '$TMP/hosts.fifo' cannot be read: it did not end before the time-out." \
  serve --hosts "$TMP/hosts.fifo" --timeout 0.5
exec 7<>"$TMP/hosts.fifo"
check "FIFO that never ends" 6 \
  "The hosts file '$TMP/hosts.fifo' cannot be read: it did not end before the time-out." \
  serve --hosts "$TMP/hosts.fifo" --timeout 1
# Without the shell's descriptor 7, so that the FIFO it holds open is the program's own.
"$CLI" serve --hosts "$TMP/hosts.fifo" >"$TMP/out" 2>"$TMP/err" </dev/null 7>&- &
reader=$!
# Interrupted once it has the FIFO open, which it opens after taking Ctrl+C as its own; Ctrl+C
# again while it runs, should the first come before that on a slow machine.
until ls -l "/proc/$reader/fd" 2>/dev/null | grep -qF "$TMP/hosts.fifo"; do
  kill -0 "$reader" 2>/dev/null || break
  sleep 0.02
done
for ((tries = 0; tries < 1500 && $(kill -0 "$reader" 2>/dev/null && echo 1 || echo 0); tries++)); do
  kill -INT "$reader" 2>/dev/null || true
  sleep 0.02
done
rc=0
wait "$reader" || rc=$?
if [[ "$rc" != 6 || "$(cat "$TMP/err")" != "Interrupted while reading the hosts file '$TMP/hosts.fifo'." ]]; then
  echo "FAIL FIFO interrupted: expected exit 6, got $rc: $(cat "$TMP/err")" >&2
  failures=$((failures + 1))
fi
exec 7>&-

printf 'MAC,IP,MASK\n%s,10.0.0.5,255.0.0.0\n# a comment\n02:00:5e:10:20:31,10.0.0.5,255.0.0.0\n' \
  "$MAC" >"$TMP/hosts.csv"
check "duplicate ip in hosts file" 3 \
  "$TMP/hosts.csv line 4: IP address 10.0.0.5 is listed on line 2 already." \
  serve --hosts "$TMP/hosts.csv"
# A field of 2 MB with a NUL in it is quoted in a few dozen characters.
{ printf 'x\0y'; head -c 2000000 /dev/zero | tr '\0' z; printf ',10.0.0.5,255.0.0.0\n'; } \
  >"$TMP/long.csv"
check "long field in hosts file" 3 \
  "$TMP/long.csv line 1: MAC address 'x\\x00y$(printf 'z%.0s' {1..37})…' $NOT_MAC" \
  serve --hosts "$TMP/long.csv"
printf '%s,10.0.0.5,255.0.0.0\n' "$MAC" >"$TMP/json.csv"
printf '02:00:5e:10:20:31,10.0.0.6,255.0.0.256\n' >>"$TMP/json.csv"
check "json refusal" 3 \
  "{\"event\":\"error\",\"message\":\"$TMP/json.csv line 2: Subnet mask '255.0.0.256' $NOT_QUAD\"}" \
  serve --hosts "$TMP/json.csv" --json

printf '%s,10.0.0.5,255.0.0.0\n' "$MAC" >"$TMP/private.csv"
chmod 600 "$TMP/private.csv"
readonly PRIVATE="The hosts file '$TMP/private.csv' cannot be read: permission denied."
if [[ $EUID -ne 0 ]]; then
  chmod 000 "$TMP/private.csv"
  check "hosts file without permission" 2 "$PRIVATE" serve --hosts "$TMP/private.csv"
elif command -v setpriv >/dev/null; then
  cp "$CLI" "$TMP/quillnet-cli"
  chmod 755 "$TMP" "$TMP/quillnet-cli"
  CLI="setpriv"
  NOBODY=(--reuid=65534 --regid=65534 --clear-groups --inh-caps=-all "$TMP/quillnet-cli")
  check "hosts file without permission" 2 "$PRIVATE" "${NOBODY[@]}" serve --hosts "$TMP/private.csv"
  # Without the capability, and no quillnet-net-helper beside this copy, a start names where
  # the helper was looked for.
  if (($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) > 67)) &&
     [[ ! -e /usr/lib/quillnet/quillnet-net-helper ]]; then
    check "no permission for port 67" 4 \
      "bind BOOTPS port failed 10013 (0000271D)
Binding UDP port 67 needs root or quillnet-net-helper: quillnet-net-helper was not found beside $TMP/quillnet-cli nor in /usr/lib/quillnet: install the package that holds it: sudo apt install quillnet-cli" \
      "${NOBODY[@]}" listen
  fi
fi

((failures == 0)) || exit 1
echo PASS
