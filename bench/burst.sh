#!/bin/bash
# Many devices at once, through network namespaces: what Quillnet's server hears and answers
# when requests come faster than one at a time, beside dnsmasq answering the same devices in
# the same run. The devices are one client (bench/burst_client.py) in a device namespace; the
# servers take turns in one pc namespace, each started anew for its turn.
#
#   bench/burst.sh BUILD_DIR [MODE [ARGS...] ...]      (no MODE: all, with their defaults; page
#                                                       only where the build has its driver)
#
#   burst [N]                       N devices (default 1000) ask at once, three rounds to each
#                                   of `quillnet-cli listen --json` (devices recorded),
#                                   `quillnet-cli serve --hosts` and dnsmasq (devices answered
#                                   within 1 s of the round's first request, the last reply).
#   steady [RATE] [DEVICES] [SECONDS]
#                                   RATE requests/s (default 5000) round-robin over DEVICES
#                                   (300) for SECONDS (60) into `quillnet-cli listen --json`:
#                                   requests counted against sent, and the pc namespace's UDP
#                                   RcvbufErrors and InErrors over the run.
#   page [RATE] [DEVICES] [SECONDS] as steady, into the wizard's Listen page (the real wizard
#                                   on the offscreen platform, driven by e2e_wizard_driver):
#                                   requests the page counted, and how long a key pressed in
#                                   its device list every 100 ms took to move the selection.
#   fresh [K]                       K (default 20) first replies of a new `quillnet-cli assign`
#                                   against dnsmasq's replies to K new devices; request to
#                                   reply, timed in the client, whose start-up is not timed.
#
# Needs root (network namespaces), python3, dnsmasq for burst and fresh (Debian dnsmasq-base,
# installed when missing), and BUILD_DIR with cli/quillnet-cli built; page needs
# tests/e2e/e2e_wizard_driver too (the wizard and the tests configured on). Builds nothing.
# QUILLNET_CLI runs that program instead of BUILD_DIR's (the installed /usr/bin/quillnet-cli);
# QUILLNET_AS_GROUP runs it as nobody in that group (quillnet: port 67 through the helper).
# shellcheck source=../tests/e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns_lib.sh"

readonly USAGE="usage: $0 BUILD_DIR [burst [N]] [steady|page [RATE] [DEVICES] [SECONDS]] [fresh [K]]"
BUILD="${1:?$USAGE}"
shift
CLI="${QUILLNET_CLI:-$BUILD/cli/quillnet-cli}"
AS=()
if [[ -n "${QUILLNET_AS_GROUP:-}" ]]; then
  AS=(setpriv --reuid=nobody --regid=nogroup --groups "$QUILLNET_AS_GROUP" --inh-caps=-all)
fi
DRIVER="$BUILD/tests/e2e/e2e_wizard_driver"
CLIENT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/burst_client.py"
[[ -x "$CLI" ]] || qnt_fail "$CLI not found: build $BUILD's quillnet-cli"
command -v python3 >/dev/null || qnt_fail "python3 is not installed"

readonly MAX_DEVICES=50000
# Requests of one `fresh` turn to each server; the turns alternate, so a change in the
# machine's load falls on both.
readonly FRESH_TURN=5

# is_count <text> [max]: a whole number from 1 (to max).
is_count() { [[ "$1" =~ ^[1-9][0-9]{0,8}$ ]] && (($1 <= ${2:-$1})); }

# Each entry is a mode and its arguments, defaults filled in, checked before anything starts.
RUNS=()
add_run() {
  local mode="$1"
  shift
  case "$mode" in
    burst)
      (($# <= 1)) || qnt_fail "burst takes one number: $USAGE"
      set -- "${1:-1000}"
      is_count "$1" "$MAX_DEVICES" || qnt_fail "burst N is 1 to $MAX_DEVICES"
      ;;
    steady | page)
      (($# <= 3)) || qnt_fail "$mode takes three numbers: $USAGE"
      set -- "${1:-5000}" "${2:-300}" "${3:-60}"
      is_count "$1" || qnt_fail "$mode RATE must be a positive number"
      is_count "$2" "$MAX_DEVICES" || qnt_fail "$mode DEVICES is 1 to $MAX_DEVICES"
      is_count "$3" || qnt_fail "$mode SECONDS must be a positive number"
      [[ "$mode" != page || -x "$DRIVER" ]] ||
        qnt_fail "$DRIVER not found: configure $BUILD with the wizard and the tests and build it"
      ;;
    fresh)
      (($# <= 1)) || qnt_fail "fresh takes one number: $USAGE"
      set -- "${1:-20}"
      is_count "$1" 1000 || qnt_fail "fresh K is 1 to 1000"
      ;;
    *) qnt_fail "no mode '$mode': $USAGE" ;;
  esac
  RUNS+=("$mode $*")
}

if (($# == 0)); then
  set -- burst steady fresh
  # The Listen page too, where the build has the wizard's driver.
  [[ -x "$DRIVER" ]] && set -- burst steady page fresh
fi
while (($# > 0)); do
  mode="$1"
  shift
  params=()
  while (($# > 0)) && [[ "$1" =~ ^[0-9]+$ ]]; do
    params+=("$1")
    shift
  done
  add_run "$mode" "${params[@]}"
done

needs_dnsmasq=0
for run in "${RUNS[@]}"; do
  [[ "$run" == steady* ]] || needs_dnsmasq=1
done
if ((needs_dnsmasq)) && ! command -v dnsmasq >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dnsmasq-base >/dev/null ||
    qnt_fail "dnsmasq is not installed and dnsmasq-base could not be installed"
fi
qnt_init
# The program as another user reads the hosts files written here.
((${#AS[@]} == 0)) || chmod 755 "$QNT_TMP"

readonly MASK="255.255.0.0"
readonly GATEWAY="10.93.0.1"
# dev0's own MAC; the devices' MACs are in the requests' chaddr (02:00:5e:93:xx:xx).
qnt_pc_and_device PC DEV "$GATEWAY/16" 02:00:5e:94:00:01
qnt_log "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# The client in the device namespace; tool: its commands that need no network.
client() { ip netns exec "$DEV" python3 "$CLIENT" "$@"; }
tool() { python3 "$CLIENT" "$@"; }

listening_on_67() { [[ -n "$(ip netns exec "$PC" ss -Huln 'sport = :67')" ]]; }

# start_server <label> <ready check...> -- <command...>: runs the command in the pc namespace
# until the check passes; its pid (the server's own: ip netns exec execs it) in $SERVER.
start_server() {
  local label="$1"
  shift
  local ready=()
  while [[ "$1" != -- ]]; do
    ready+=("$1")
    shift
  done
  shift
  OUT="$QNT_TMP/$label.out"
  ERR="$QNT_TMP/$label.err"
  # Emptied here, not only by the background shell: a check made before that shell opens them
  # would read the last run's lines and take this server for ready.
  : >"$OUT"
  : >"$ERR"
  qnt_bg "$PC" "$OUT" "$ERR" "$@"
  SERVER=$QNT_LAST_PID
  # A server that refused to start is not waited for. The wait is long: on this shared machine
  # `ip netns exec` was seen to spend more than 10 s in the kernel before running the command.
  if ! qnt_wait_for 60 ready_or_ended "${ready[@]}" || ! "${ready[@]}"; then
    local status comm wchan
    if qnt_not_running "$SERVER"; then
      QNT_RC=0
      wait "$SERVER" || QNT_RC=$?
      status="exit $QNT_RC"
    else
      comm=$(cat "/proc/$SERVER/comm" 2>/dev/null) || true
      wchan=$(cat "/proc/$SERVER/wchan" 2>/dev/null) || true
      status="still running as ${comm:-?}, in ${wchan:-?}"
    fi
    qnt_fail "$label did not start ($status): $(cat "$OUT" "$ERR")"
  fi
}

ready_or_ended() { "$@" || qnt_not_running "$SERVER"; }

# stop_server <label>: the server must have lasted the measurement and end cleanly.
stop_server() {
  qnt_running "$SERVER" || qnt_fail "$1 ended during the measurement: $(tail -n 5 "$ERR")"
  kill -TERM "$SERVER"
  qnt_wait_exit "$SERVER" 30
  ((QNT_RC == 0)) || qnt_fail "$1 exited $QNT_RC: $(tail -n 5 "$ERR")"
}

measurement_failed() { qnt_fail "the measurement of $1 failed: $(tail -n 5 "$ERR")"; }

start_listen() {
  start_server "$1" qnt_file_has "$QNT_TMP/$1.out" '"event":"listening"' -- \
    "${AS[@]}" "$CLI" listen --json
}

# start_dnsmasq <label> <dhcp-host file>: nothing of the host's (no configuration file, DNS
# off, its files in the scratch folder, only pc0). A static address for a known MAC answers a
# plain BOOTP request; the lease limit (1000 by default) must not refuse devices. Leases stay
# in memory: dnsmasq syncs its lease file to disk after each new lease, which in a burst holds
# the next replies back by this machine's disk, not by dnsmasq's work.
start_dnsmasq() {
  start_server "$1" listening_on_67 -- dnsmasq --no-daemon --conf-file=/dev/null --port=0 \
    --user=root --interface=pc0 --dhcp-range=10.93.0.0,static,"$MASK" \
    --dhcp-hostsfile="$2" --dhcp-option=option:router,"$GATEWAY" --leasefile-ro \
    --dhcp-lease-max=65536 --pid-file="$QNT_TMP/dnsmasq.pid" \
    --log-facility="$QNT_TMP/$1.log" --quiet-dhcp --no-ping
}

readonly ROUNDS=3

burst_mode() {
  local n="$1"
  local hosts="$QNT_TMP/burst.hosts" dhcp_hosts="$QNT_TMP/burst.dhcp-hosts"
  tool hosts quillnet 0 "$n" >"$hosts"
  tool hosts dnsmasq 0 "$n" >"$dhcp_hosts"

  qnt_log "burst: $n devices, $ROUNDS rounds into quillnet-cli listen"
  start_listen burst-listen
  client burst "$n" "$ROUNDS" --events "$OUT" --server-pid "$SERVER" \
    >"$QNT_TMP/burst-listen.json" || measurement_failed "quillnet-cli listen"
  stop_server "quillnet-cli listen"

  qnt_log "burst: $n devices, $ROUNDS rounds to quillnet-cli serve"
  start_server burst-serve qnt_file_has "$QNT_TMP/burst-serve.out" '"event":"serving"' -- \
    "${AS[@]}" "$CLI" serve --hosts "$hosts" --json
  client burst "$n" "$ROUNDS" --server-pid "$SERVER" >"$QNT_TMP/burst-serve.json" ||
    measurement_failed "quillnet-cli serve"
  stop_server "quillnet-cli serve"

  qnt_log "burst: $n devices, $ROUNDS rounds to dnsmasq"
  start_dnsmasq burst-dnsmasq "$dhcp_hosts"
  client burst "$n" "$ROUNDS" --server-pid "$SERVER" >"$QNT_TMP/burst-dnsmasq.json" ||
    measurement_failed dnsmasq
  stop_server dnsmasq

  tool report burst "$QNT_TMP"/burst-{listen,serve,dnsmasq}.json
  # A server's receive buffer unless it sets its own: what a burst must fit in.
  local sysctl=/proc/sys/net/core
  echo "pc namespace: net.core.rmem_default $(ip netns exec "$PC" cat "$sysctl/rmem_default")," \
    "net.core.rmem_max $(ip netns exec "$PC" cat "$sysctl/rmem_max") bytes"
}

steady_mode() {
  local rate="$1" devices="$2" seconds="$3"
  qnt_log "steady: $rate requests/s over $devices devices for $seconds s into quillnet-cli listen"
  start_listen steady-listen
  client steady "$rate" "$devices" "$seconds" --events "$OUT" --server-pid "$SERVER" \
    >"$QNT_TMP/steady.json" || measurement_failed "quillnet-cli listen"
  stop_server "quillnet-cli listen"
  tool report steady "$QNT_TMP/steady.json"
}

page_mode() {
  local rate="$1" devices="$2" seconds="$3" stop="$QNT_TMP/page.stop"
  qnt_log "page: $rate requests/s over $devices devices for $seconds s into the wizard's Listen page"
  start_server page qnt_file_has "$QNT_TMP/page.out" LISTENING -- env QT_QPA_PLATFORM=offscreen \
    XDG_CONFIG_HOME="$QNT_TMP/page-config" "$DRIVER" listen-load "$stop"
  client steady "$rate" "$devices" "$seconds" --server-pid "$SERVER" >"$QNT_TMP/page.json" ||
    measurement_failed "the wizard's Listen page"
  touch "$stop"
  qnt_wait_exit "$SERVER" 30
  ((QNT_RC == 0)) || qnt_fail "the wizard exited $QNT_RC: $(tail -n 5 "$ERR")"
  tool report page "$QNT_TMP/page.json" "$OUT"
}

# fresh_quillnet <device index>: a new assign for the device, armed, then a new client.
fresh_quillnet() {
  local device mac ip
  device=$(tool device "$1")
  read -r mac ip <<<"$device"
  start_server fresh-assign qnt_file_has "$QNT_TMP/fresh-assign.out" '"event":"waiting"' -- \
    "${AS[@]}" "$CLI" assign "$mac" "$ip" "$MASK" "$GATEWAY" --confirm 0 --timeout 10 --json
  client fresh "$1" >>"$QNT_TMP/fresh-quillnet.samples" ||
    qnt_fail "assign did not answer $mac: $(cat "$OUT" "$ERR")"
  qnt_wait_exit "$SERVER" 30
  ((QNT_RC == 0)) || qnt_fail "assign exited $QNT_RC after answering: $(cat "$OUT" "$ERR")"
}

fresh_mode() {
  local k="$1" turns done_ turn count i
  turns=$(((k + FRESH_TURN - 1) / FRESH_TURN))
  # Devices 0 to k-1 ask Quillnet, k to 2k-1 dnsmasq; 2k onwards warm each dnsmasq up.
  local dhcp_hosts="$QNT_TMP/fresh.dhcp-hosts"
  tool hosts dnsmasq 0 $((2 * k + turns)) >"$dhcp_hosts"
  qnt_log "fresh: $k new assign processes against $k new devices asking dnsmasq"
  for ((turn = 0, done_ = 0; turn < turns; turn++, done_ += count)); do
    count=$((k - done_ < FRESH_TURN ? k - done_ : FRESH_TURN))
    for ((i = done_; i < done_ + count; i++)); do
      fresh_quillnet "$i"
    done
    start_dnsmasq fresh-dnsmasq "$dhcp_hosts"
    # dnsmasq is measured running: its first reply after start is not timed.
    client fresh $((2 * k + turn)) >/dev/null || qnt_fail "dnsmasq did not answer: $(cat "$ERR")"
    for ((i = done_; i < done_ + count; i++)); do
      client fresh $((k + i)) >>"$QNT_TMP/fresh-dnsmasq.samples" ||
        qnt_fail "dnsmasq did not answer device $((k + i)): $(cat "$ERR")"
    done
    stop_server dnsmasq
  done
  tool report fresh "$QNT_TMP"/fresh-{quillnet,dnsmasq}.samples
}

for run in "${RUNS[@]}"; do
  read -r -a words <<<"$run"
  echo
  "${words[0]}_mode" "${words[@]:1}"
done
