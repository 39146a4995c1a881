#!/bin/bash
# quillnet-cli doctor: with port 67 free and an interface that can broadcast, every check passes;
# with a second server holding port 67 it names that program and its pid and fails; run as a
# user without the capabilities it names the setcap command and says whose socket it cannot
# see, and warns that ARP probes are skipped without changing the exit status; with the
# helper beside it, the port and the probes go through the helper.
# Usage: doctor.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

qnt_pc_and_device PC DEV 10.85.0.1/24 "02:00:5e:85:00:0a"

# doctor_run <label> [command before the program...]: doctor's output in $QNT_TMP/<label>.out,
# its exit status in $QNT_RC.
doctor_run() {
  local label="$1"
  shift
  QNT_RC=0
  timeout 20 ip netns exec "$PC" "$@" "$CLI" doctor >"$QNT_TMP/$label.out" 2>&1 || QNT_RC=$?
}
expect_line() {
  qnt_file_has "$QNT_TMP/$1.out" "$2" || qnt_fail "$1: no line '$2' in: $(cat "$QNT_TMP/$1.out")"
}

# Run as root, doctor must not run an nft that PATH names.
mkdir "$QNT_TMP/path"
printf '#!/bin/sh\ntouch "%s"\n' "$QNT_TMP/nft-from-path" >"$QNT_TMP/path/nft"
chmod 755 "$QNT_TMP/path/nft"
doctor_run free env PATH="$QNT_TMP/path:$PATH"
[[ ! -e "$QNT_TMP/nft-from-path" ]] || qnt_fail "doctor ran the nft it found on PATH"
qnt_expect_eq "doctor exit status with the port free" 0 "$QNT_RC"
expect_line free "OK    port 67: free"
expect_line free "OK    permission: this program may bind UDP port 67"
expect_line free "OK    ARP probes: this program may send ARP probes"
# As root the buffer passes the system's limit.
expect_line free "OK    receive buffer: 8192 KiB, room for thousands of devices asking at once"
expect_line free "OK    interfaces: replies leave through pc0 10.85.0.1 (up, broadcast)"

qnt_start_listen "$PC" "$QNT_TMP/holder.out" "$QNT_TMP/holder.err"
HOLDER=$QNT_LAST_PID
HOLDER_PID="$(ip netns pids "$PC" | while read -r pid; do
  [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == quillnet-cli ]] && echo "$pid"; done)"
[[ -n "$HOLDER_PID" ]] || qnt_fail "the holding server's pid was not found"
doctor_run taken
qnt_expect_eq "doctor exit status with the port held" 1 "$QNT_RC"
expect_line taken "FAIL  port 67: held by quillnet-cli (pid $HOLDER_PID)."
qnt_running "$HOLDER" || qnt_fail "doctor disturbed the holding server"

# Without root: the holder's descriptors are hidden, and binding needs the capability.
if command -v setpriv >/dev/null && (($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) > 67)); then
  cp "$CLI" "$QNT_TMP/quillnet-cli"
  chmod 755 "$QNT_TMP" "$QNT_TMP/quillnet-cli"
  CLI="$QNT_TMP/quillnet-cli"
  doctor_run user setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
  qnt_expect_eq "doctor exit status as another user" 1 "$QNT_RC"
  expect_line user "FAIL  port 67: held by a process of user 0 that this user cannot see (sudo quillnet-cli doctor names it)."
  # A user gets the receive buffer net.core.rmem_max allows, which passes only from 8 MiB on.
  rmem_max="$(cat /proc/sys/net/core/rmem_max)"
  if ((rmem_max < 8388608)); then
    expect_line user "WARN  receive buffer: $((rmem_max / 1024)) KiB, limited by net.core.rmem_max"
  else
    expect_line user "OK    receive buffer: 8192 KiB"
  fi
  # No helper beside the copy, and none installed.
  missing="quillnet-net-helper was not found beside $CLI nor in /usr/lib/quillnet: install the package that holds it: sudo apt install quillnet-cli."
  expect_line user "FAIL  permission: this program may not bind UDP port 67: $missing"
  expect_line user "WARN  ARP probes: this program cannot send ARP probes, so it cannot confirm that a device took its address nor find addresses in use: $missing"

  # Run from a build folder, the advice is the build's: the helper it places beside the
  # program, and the doctor it built.
  build="$QNT_TMP/build tree"
  mkdir -p "$build/cli"
  : >"$build/CMakeCache.txt"
  cp "$CLI" "$build/cli/quillnet-cli"
  chmod -R a+rX "$build"
  CLI="$build/cli/quillnet-cli"
  doctor_run build setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
  expect_line build "FAIL  port 67: held by a process of user 0 that this user cannot see (sudo '$CLI' doctor names it)."
  expect_line build "FAIL  permission: this program may not bind UDP port 67: quillnet-net-helper was not found beside $CLI nor in /usr/lib/quillnet: build it again (cmake --build '$build' places it beside the program), then grant it its capabilities: sudo setcap cap_net_bind_service,cap_net_raw=+ep '$build/cli/quillnet-net-helper'."
  CLI="$QNT_TMP/quillnet-cli"

  # The helper beside it, with its capabilities: the port and the probes go through it, and
  # every check passes.
  kill -TERM "$HOLDER"
  qnt_wait_exit "$HOLDER" 10
  helper="$QNT_TMP/quillnet-net-helper"
  cp "$(dirname "${1}")/quillnet-net-helper" "$helper"
  chmod 755 "$helper"
  if setcap cap_net_bind_service,cap_net_raw=+ep "$helper"; then
    doctor_run helper setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
    qnt_expect_eq "doctor exit status with the helper" 0 "$QNT_RC"
    expect_line helper "OK    permission: $helper opens UDP port 67 for this program"
    expect_line helper "OK    ARP probes: $helper sends ARP probes for this program"
  fi
fi

qnt_log "PASS"
