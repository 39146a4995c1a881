#!/usr/bin/env bash
# The Debian packages as README builds them, twice, in two folders: the two builds must give
# the same bytes. Then lintian (no errors, no hardening tag), hardening-check on every program,
# and the packages' life on this machine: install, reinstall, remove, purge. The programs hold
# no capability; the helper is root:quillnet 0750 with cap_net_bind_service and cap_net_raw;
# purging takes the group quillnet and the helper's stat override away again. On a system with
# Debian's stock net.core.rmem_max, installing raises it for the server's receive buffer, and
# doctor run by a member of the group finds the buffer fine; removing gives the stock value
# back.
# Run as root. Prints PASS or FAIL with the reason; exits 0 on PASS.
set -euo pipefail
cd "$(dirname "$0")/../.."
source=$PWD

bin=/usr/bin
helper=/usr/lib/quillnet/quillnet-net-helper
work=$(mktemp -d -t quillnet-package.XXXXXX)
log=$work/listen.log
namespace=quillnet-package-$$
listener=
installed=false
rmem_max=/proc/sys/net/core/rmem_max
rmem_stock=212992
rmem_was=$(cat "$rmem_max")

# Undoes what this script did, whatever step it stopped at.
finish() {
  if [[ -n $listener ]] && kill -0 "$listener" 2>/dev/null; then
    kill -KILL "$listener" 2>/dev/null || true
    wait "$listener" 2>/dev/null || true
  fi
  ip netns delete "$namespace" 2>/dev/null || true
  if $installed; then
    dpkg --purge quillnet quillnet-cli >/dev/null 2>&1 || true
  fi
  echo "$rmem_was" >"$rmem_max" || true
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "package: FAIL: $*"
  exit 1
}

bash scripts/install-deps.sh test

# Builds the packages from a copy of the working tree in $1, README's way.
build_packages() {
  local folder=$1
  mkdir -p "$folder/source"
  git ls-files -z --cached --others --exclude-standard |
    tar -C "$source" --null -T - -cf - | tar -C "$folder/source" -xf -
  cmake -S "$folder/source" -B "$folder/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLNET_TESTS=OFF -DQUILLNET_DEB_BUILDFLAGS=ON
  cmake --build "$folder/build"
  # cpack gives the .deb's own members the umask's modes: it runs with 022, as
  # dpkg-buildpackage does.
  (cd "$folder/build" && umask 022 && cpack -G DEB)
}

# The second build differs in its folders' paths and names, and in its umask until cpack.
build_packages "$work/one"
(umask 0002 && build_packages "$work/second/build-two")

version=$(sed -n 's/^project(Quillnet VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
# The packages' version: the program's, and the packaging's own revision.
package_version=$(dpkg-parsechangelog -l packaging/changelog -S Version)
[[ $package_version == "$version" || $package_version == "$version"-* ]] ||
  fail "the changelog's version $package_version is not the program's $version"
cli_deb=$work/one/build/quillnet-cli_${package_version}_amd64.deb
wizard_deb=$work/one/build/quillnet_${package_version}_amd64.deb
debs=("$work"/one/build/*.deb)
[[ ${#debs[@]} == 2 && -f $cli_deb && -f $wizard_deb ]] ||
  fail "cpack made ${debs[*]##*/} in place of quillnet-cli and quillnet $package_version"
for deb in "$cli_deb" "$wizard_deb"; do
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
  cmp "$deb" "$work/second/build-two/build/${deb##*/}" ||
    fail "two builds of one tree gave different ${deb##*/}"
done

dpkg-deb -f "$cli_deb" Depends | grep -qi 'qt' && fail "quillnet-cli depends on Qt"
[[ $(dpkg-deb -f "$wizard_deb" Depends) == *"quillnet-cli (= $package_version)"* ]] ||
  fail "quillnet does not depend on quillnet-cli (= $package_version)"
# quillnet-cli takes over files the single package quillnet of 1.1.2.45 held.
for field in Replaces Breaks; do
  [[ $(dpkg-deb -f "$cli_deb" "$field") == "quillnet (<< 1.1.2.45-1~)" ]] ||
    fail "quillnet-cli's $field is '$(dpkg-deb -f "$cli_deb" "$field")'"
done

echo "package: lintian"
lintian_output=$(lintian -I --fail-on error "$cli_deb" "$wizard_deb") ||
  fail "lintian reports errors: $lintian_output"
echo "$lintian_output"
! grep -q 'hardening-' <<<"$lintian_output" || fail "lintian reports a hardening tag"

# Every ELF file of both packages: FORTIFY_SOURCE, stack protector, PIE, relro, bind now.
# Not control-flow protection: Debian 12's crt1.o carries no CET marks, so no program linked
# against it has them.
for deb in "$cli_deb" "$wizard_deb"; do
  dpkg-deb -x "$deb" "$work/contents"
done
elves=0
while IFS= read -r -d '' file; do
  if [[ $(head -c 4 "$file" | od -An -c | tr -d ' ') == 177ELF ]]; then
    # The helper's calls are all proven to fit their buffers (see its lintian override), so
    # no checked function is left to find in it; every other mark must be there.
    fortify=()
    [[ ${file##*/} != quillnet-net-helper ]] || fortify=(--nofortify)
    hardening-check --nocfprotection "${fortify[@]}" "$file" ||
      fail "${file#"$work/contents"} is not hardened"
    ((++elves))
  fi
done < <(find "$work/contents" -type f -print0)
((elves >= 2)) || fail "only $elves programs in the packages"

# apt reads local packages as its unprivileged _apt user.
chmod -R a+rX "$work"
installed=true
echo "$rmem_stock" >"$rmem_max"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$cli_deb" "$wizard_deb"
[[ $(cat "$rmem_max") == 8388608 ]] || fail "net.core.rmem_max is $(cat "$rmem_max") after install"
grep -qx 'net.core.rmem_max = 8388608' /usr/lib/sysctl.d/60-quillnet.conf ||
  fail "no /usr/lib/sysctl.d/60-quillnet.conf raising net.core.rmem_max"

check_installed() {
  getent group quillnet >/dev/null || fail "no group quillnet after $1"
  [[ $(dpkg-statoverride --list "$helper") == "root quillnet 750 $helper" ]] ||
    fail "the helper's stat override after $1 is '$(dpkg-statoverride --list "$helper")'"
  for program in "$bin/quillnet" "$bin/quillnet-cli"; do
    [[ -z $(getcap "$program") ]] || fail "$program holds capabilities after $1: $(getcap "$program")"
  done
  [[ $(stat -c '%U:%G %a' "$helper") == "root:quillnet 750" ]] ||
    fail "$helper is $(stat -c '%U:%G %a' "$helper") after $1"
  [[ $(getcap "$helper") == "$helper cap_net_bind_service,cap_net_raw=ep" ]] ||
    fail "$helper holds '$(getcap "$helper")' after $1"
}
check_installed "install"

# --help and --version answer without a display, so before any window.
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/quillnet" --version) == "quillnet $version" ]] ||
  fail "quillnet --version prints '$(env -u DISPLAY "$bin/quillnet" --version 2>&1)'"
env -u DISPLAY -u WAYLAND_DISPLAY "$bin/quillnet" --help | grep -q -- '--version' ||
  fail "quillnet --help does not list --version"
[[ $("$bin/quillnet-cli" --version) == "quillnet-cli $version" ]] ||
  fail "quillnet-cli --version prints '$("$bin/quillnet-cli" --version 2>&1)'"

desktop-file-validate /usr/share/applications/Quillnet.desktop ||
  fail "Quillnet.desktop is not valid"
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml ||
  fail "the AppStream metadata is not valid"
for size in 48 64 128; do
  file "/usr/share/icons/hicolor/${size}x${size}/apps/quillnet.png" |
    grep -q "PNG image data, $size x $size," || fail "no $size px icon"
done
grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/quillnet.svg || fail "no scalable icon"

# The man page must list the exit codes the program itself lists, each subcommand its own, no
# more and no fewer.
help_codes=$(for subcommand in listen assign serve startup history doctor; do
               "$bin/quillnet-cli" help "$subcommand" | sed -n 's/^Exit codes: //p'
             done | grep -oE '(^|; )[0-9]+ ' | tr -dc '0-9\n' | sort -un | tr '\n' ' ')
man_codes=$(zcat /usr/share/man/man1/quillnet-cli.1.gz |
            awk '/^\.SH/ { section = $0 }
                 section == ".SH EXIT STATUS" && /^\.B [0-9]+$/ { print $2 }' |
            sort -n | tr '\n' ' ')
[[ -n $help_codes && $help_codes == "$man_codes" ]] ||
  fail "quillnet-cli --help lists exit codes '$help_codes', its man page '$man_codes'"

# Runs quillnet-cli listen as nobody with the supplementary groups $1 (none when empty), in a
# network namespace where no other server can hold port 67. ip netns exec and setpriv both
# exec, so $! is quillnet-cli itself.
start_listener() {
  local groups=(--clear-groups)
  [[ -n $1 ]] && groups=(--groups "$1")
  ip netns add "$namespace"
  ip -n "$namespace" link set lo up
  ip netns exec "$namespace" setpriv --reuid=nobody --regid=nogroup "${groups[@]}" \
    "$bin/quillnet-cli" listen >"$log" 2>&1 &
  listener=$!
}
stop_namespace() {
  listener=
  ip netns delete "$namespace"
}

# Outside the group quillnet nobody may bind port 67: the programs hold no capability and
# the helper is not theirs to run.
start_listener ""
for ((waited = 0; waited < 100; waited++)); do
  kill -0 "$listener" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$listener" 2>/dev/null && fail "quillnet-cli listened outside the group quillnet"
status=0
wait "$listener" || status=$?
stop_namespace
((status == 4)) || fail "quillnet-cli listen outside the group quillnet ended with $status: $(cat "$log")"

# A member of the group quillnet listens on port 67 through the helper.
start_listener quillnet
for ((waited = 0; waited < 100; waited++)); do
  grep -q "Listening for BOOTP and DHCP requests" "$log" && break
  kill -0 "$listener" 2>/dev/null || break
  sleep 0.1
done
grep -q "Listening for BOOTP and DHCP requests" "$log" ||
  fail "quillnet-cli listen did not listen as nobody in the group quillnet: $(cat "$log")"
ip netns exec "$namespace" ss -Hlun 'sport = :67' | grep -q . || fail "nothing bound port 67"
# Listening ends by itself (status 4) when the server stops; a second on, it must still run.
sleep 1
kill -0 "$listener" 2>/dev/null || fail "quillnet-cli stopped listening: $(cat "$log")"
kill -INT "$listener"
status=0
wait "$listener" || status=$?
stop_namespace
((status == 0)) || fail "quillnet-cli listen ended with status $status after Ctrl+C"

# A member of the group gets the server's whole receive buffer.
setpriv --reuid=nobody --regid=nogroup --groups quillnet "$bin/quillnet-cli" doctor --json \
  >"$log" 2>&1 || true
python3 - "$log" <<'PY' || fail "doctor as a member of the group quillnet: $(cat "$log")"
import json, sys
checks = [json.loads(line) for line in open(sys.argv[1]) if line.startswith("{")]
buffer = [c for c in checks if c.get("check") == "receive buffer"]
assert buffer and buffer[0]["status"] == "ok", buffer
PY

# Installing again runs the maintainer scripts as an upgrade does; nothing may be doubled or
# lost.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$cli_deb" "$wizard_deb"
check_installed "reinstall"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillnet quillnet-cli
for program in "$bin/quillnet" "$bin/quillnet-cli" "$helper"; do
  [[ ! -e $program ]] || fail "$program is still there after removal"
done
getent group quillnet >/dev/null || fail "removal (not purge) took the group quillnet away"
[[ ! -e /usr/lib/sysctl.d/60-quillnet.conf ]] || fail "the sysctl file is still there after removal"
[[ $(cat "$rmem_max") == "$rmem_stock" ]] ||
  fail "net.core.rmem_max is $(cat "$rmem_max") after removal, not the $rmem_stock it was"

dpkg --purge quillnet quillnet-cli
installed=false
! getent group quillnet >/dev/null || fail "the group quillnet is still there after purge"
[[ -z $(dpkg-statoverride --list "$helper") ]] ||
  fail "the helper's stat override is still there after purge"

echo "package: PASS (two builds byte-identical; lintian without errors or hardening tags;" \
  "$elves programs hardened; installed, reinstalled, removed and purged cleanly)"
