#!/usr/bin/env bash
# The Debian package as README builds it: a fresh Release build, `cpack -G DEB`, lintian with
# no errors, then installed with apt. Both programs must carry cap_net_bind_service and
# cap_net_raw, so that the installed quillnet-cli binds port 67 as `nobody` in a network
# namespace of its own; removal
# must take the programs away. Run as root. Prints PASS or FAIL with the reason; exits 0 on PASS.
set -euo pipefail
cd "$(dirname "$0")/../.."

bin=/usr/bin
work=$(mktemp -d -t quillnet-package.XXXXXX)
build=$work/build
log=$work/listen.log
namespace=quillnet-package-$$
listener=
installed=false

# Undoes what this script did, whatever step it stopped at.
finish() {
  if [[ -n $listener ]] && kill -0 "$listener" 2>/dev/null; then
    kill -KILL "$listener" 2>/dev/null || true
    wait "$listener" 2>/dev/null || true
  fi
  ip netns delete "$namespace" 2>/dev/null || true
  if $installed; then
    apt-get remove -y -qq quillnet >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "package: FAIL: $*"
  exit 1
}

bash scripts/install-deps.sh test

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_TESTS=OFF
cmake --build "$build"
(cd "$build" && cpack -G DEB)
debs=("$build"/quillnet_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
  fail "cpack made no single quillnet_*.deb"
fi
deb=${debs[0]}
dpkg-deb --contents "$deb"

echo "package: lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# apt reads a local package as its unprivileged _apt user.
chmod a+rx "$work" "$build"
installed=true
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb"

desktop-file-validate /usr/share/applications/Quillnet.desktop ||
  fail "Quillnet.desktop is not valid"
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml ||
  fail "the AppStream metadata is not valid"

# The man page must list the exit codes the program itself lists, no more and no fewer.
help_codes=$("$bin/quillnet-cli" --help | sed -n 's/^Exit codes: //p' |
             grep -oE '(^|; )[0-9]+ ' | tr -dc '0-9\n' | sort -n | tr '\n' ' ')
man_codes=$(zcat /usr/share/man/man1/quillnet-cli.1.gz |
            awk '/^\.SH/ { section = $0 }
                 section == ".SH EXIT STATUS" && /^\.B [0-9]+$/ { print $2 }' |
            sort -n | tr '\n' ' ')
[[ -n $help_codes && $help_codes == "$man_codes" ]] ||
  fail "quillnet-cli --help lists exit codes '$help_codes', its man page '$man_codes'"

for program in quillnet quillnet-cli; do
  caps=$(getcap "$bin/$program")
  [[ ${caps#"$bin/$program"} == " cap_net_bind_service,cap_net_raw=ep" ]] ||
    fail "$bin/$program carries '${caps#"$bin/$program"}' in place of cap_net_bind_service,cap_net_raw=ep"
done

# Without setcap (or xattrs) the install must still succeed and say what to run.
postinst_output=$(PATH=/usr/bin:/bin sh /var/lib/dpkg/info/quillnet.postinst configure) ||
  fail "the post-install script fails when setcap is missing"
grant=cap_net_bind_service,cap_net_raw=+ep
[[ $postinst_output == *"run: sudo setcap $grant $bin/quillnet $grant $bin/quillnet-cli" ]] ||
  fail "the post-install script without setcap says '$postinst_output'"

# Port 67 as an unprivileged user, in a namespace where no other server can hold it. ip netns
# exec and setpriv both exec, so $! is quillnet-cli itself.
ip netns add "$namespace"
ip -n "$namespace" link set lo up
ip netns exec "$namespace" setpriv --reuid=nobody --regid=nogroup --clear-groups \
  "$bin/quillnet-cli" listen >"$log" 2>&1 &
listener=$!
for ((waited = 0; waited < 100; waited++)); do
  grep -q "Listening for BOOTP requests" "$log" && break
  kill -0 "$listener" 2>/dev/null || break
  sleep 0.1
done
grep -q "Listening for BOOTP requests" "$log" ||
  fail "quillnet-cli listen did not listen as nobody: $(cat "$log")"
[[ $(ps -o user= -p "$listener" | tr -d ' ') == nobody ]] ||
  fail "quillnet-cli did not run as nobody"
ip netns exec "$namespace" ss -Hlun 'sport = :67' | grep -q . || fail "nothing bound port 67"
# Listening ends by itself (status 4) when the server stops; a second on, it must still run.
sleep 1
kill -0 "$listener" 2>/dev/null || fail "quillnet-cli stopped listening: $(cat "$log")"
kill -INT "$listener"
status=0
wait "$listener" || status=$?
listener=
((status == 0)) || fail "quillnet-cli listen ended with status $status after Ctrl+C"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillnet
installed=false
for program in quillnet quillnet-cli; do
  [[ ! -e $bin/$program ]] || fail "$bin/$program is still there after removal"
done

echo "package: PASS (lintian without errors; installed, quillnet-cli listened on port 67 as" \
  "nobody, removed)"
