#!/usr/bin/env bash
# README's run command on a clean clone of the committed tree: `xvfb-run -a ./scripts/run.sh`
# must build the programs, give the quillnet-net-helper copy beside each program the two
# capabilities and the programs none, and bring up the wizard's window. Run as root, as README says. Prints PASS or FAIL with the reason; exits 0 on PASS.
#
# usage: run_command.sh [--working-run-script] [REPOSITORY]
#   REPOSITORY       whose HEAD is cloned; by default the one holding this script
#   --working-run-script
#                    copy REPOSITORY's working scripts/run.sh over the clone's, to try a change
#                    to it before it is committed
#
# RUN_COMMAND_TIMEOUT: seconds to wait for the window, build included (900 by default).
set -euo pipefail

timeout=${RUN_COMMAND_TIMEOUT:-900}

working_run_script=false
if [[ ${1:-} == --working-run-script ]]; then
  working_run_script=true
  shift
fi
repository=$(git -C "${1:-$(dirname "$0")}" rev-parse --show-toplevel)
# The title shows the project's version without its build number.
title="Varnholt - Quillnet $(sed -n 's/^project(Quillnet VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' \
                               "$repository/CMakeLists.txt")"

work=$(mktemp -d -t quillnet-run-command.XXXXXX)
clone=$work/quillnet
log=$work/run.log
auth=$work/Xauthority
run_group=

# Ends what this script started (the run's own process group), then removes the clone.
finish() {
  if [[ -n $run_group ]] && kill -0 -- "-$run_group" 2>/dev/null; then
    kill -TERM -- "-$run_group" 2>/dev/null || true
    for ((waited = 0; waited < 100; waited++)); do
      kill -0 -- "-$run_group" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$run_group" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "run command: FAIL: $*"
  if [[ -s $log ]]; then
    echo "---- output of the run"
    cat "$log"
    echo "----"
  fi
  exit 1
}

# A program's path as scripts/run.sh names it in its `NAME=path` line, so that the path is
# written in one place only.
program_path() {
  local value
  value=$(sed -n "s/^$1=//p" "$clone/scripts/run.sh" | head -n 1)
  value=${value//\"/}
  [[ -n $value ]] || fail "scripts/run.sh has no line '$1=<path>'"
  printf -v "$1" '%s' "$value"
}

# The id of a mapped top-level window with the wizard's title on display $1, if there is one.
wizard_window() {
  local id
  for id in $(DISPLAY=$1 XAUTHORITY=$auth xwininfo -root -children 2>/dev/null |
              awk -v name="\"$title\":" 'index($0, name) { print $1 }'); do
    if DISPLAY=$1 XAUTHORITY=$auth xwininfo -id "$id" 2>/dev/null |
       grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

git clone --quiet "$repository" "$clone"
[[ $(git -C "$clone" rev-parse HEAD) == $(git -C "$repository" rev-parse HEAD) ]] ||
  fail "the clone is not at $repository's HEAD"
if $working_run_script; then
  cp "$repository/scripts/run.sh" "$clone/scripts/run.sh"
  echo "run command: trying the working tree's scripts/run.sh"
fi
wizard='' cli='' wizard_helper='' cli_helper=''
program_path wizard
program_path cli
program_path wizard_helper
program_path cli_helper

# README's command, in a process group of its own so that it can be ended as a whole. The
# server number and the auth file are fixed so that the display can be found; -a still moves
# on from a number in use. The wizard keeps its settings in the work folder.
touch "$auth"
set -m
(cd "$clone" && exec env XDG_CONFIG_HOME="$work/config" \
   xvfb-run -n 170 -a -f "$auth" ./scripts/run.sh) >"$log" 2>&1 &
run_group=$!
set +m

echo "run command: building and starting in $clone (up to $timeout s)"
window=
display=
deadline=$((SECONDS + timeout))
while [[ -z $window ]]; do
  if ! kill -0 "$run_group" 2>/dev/null; then
    status=0
    wait "$run_group" || status=$?
    fail "the run ended with status $status before the wizard's window appeared"
  fi
  ((SECONDS < deadline)) || fail "no window \"$title\" after $timeout s"
  # Each display xvfb-run tried has an entry; only the live one answers.
  for display in $(XAUTHORITY=$auth xauth list 2>/dev/null |
                   awk '{ sub(/^[^:]*/, "", $1); print $1 }'); do
    window=$(wizard_window "$display") && break
  done
  [[ -n $window ]] || sleep 1
done
echo "run command: window $window \"$title\" on display $display"

# file_caps <path>: the capabilities getcap lists for the built file, "" for none.
file_caps() {
  [[ -f $clone/$1 ]] || fail "$1 was not built"
  local caps
  caps=$(cd "$clone" && getcap "$1")
  caps=${caps#"$1"}
  echo "${caps# }"
}
for helper in "$wizard_helper" "$cli_helper"; do
  caps=$(file_caps "$helper")
  [[ $caps == "cap_net_bind_service,cap_net_raw=ep" ]] ||
    fail "$helper carries '$caps' in place of cap_net_bind_service,cap_net_raw=ep"
done
for program in "$wizard" "$cli"; do
  caps=$(file_caps "$program")
  [[ -z $caps ]] || fail "$program carries '$caps'; only the helper may hold capabilities"
done
kill -0 "$run_group" 2>/dev/null || fail "the wizard ended by itself"

finish
trap - EXIT
echo "run command: PASS ($wizard_helper and $cli_helper carry cap_net_bind_service,cap_net_raw=ep, $wizard and $cli none, the wizard was up)"
