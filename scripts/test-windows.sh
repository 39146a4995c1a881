#!/usr/bin/env bash
# Cross-builds Quillnet.exe, quillnet-cli.exe, their tests and the MSI
# (scripts/build-windows.sh), runs the unit tests under Wine, then the end-to-end tests of the
# programs under Wine in network namespaces (tests/e2e_windows/; the wizard's on a virtual
# display). Run as root: the end-to-end tests make network namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."

e2e_tests=(assign listen_doctor serve_hosts relay_agent wizard msi)

bash scripts/install-deps.sh windows-test

start=$SECONDS
bash scripts/build-windows.sh
build_time=$((SECONDS - start))

start=$SECONDS
ctest --test-dir build-windows --output-on-failure -j2
unit_time=$((SECONDS - start))

# One Wine prefix for the run, which each test copies.
start=$SECONDS
scratch="$(mktemp -d /tmp/quillnet-test-windows.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
bash tests/e2e_windows/wine_prefix.sh "$scratch/wine"
export QUILLNET_WINE_PREFIX_TEMPLATE="$scratch/wine"
failed=()
for test in "${e2e_tests[@]}"; do
  rc=0
  if [[ "$test" == wizard || "$test" == msi ]]; then
    bash "tests/e2e_windows/$test.sh" build-windows || rc=$?
  else
    bash "tests/e2e_windows/$test.sh" build-windows/cli/quillnet-cli.exe || rc=$?
  fi
  case "$rc" in
    0) ;;
    77) echo "e2e_windows.$test: skipped" >&2 ;;
    *) failed+=("$test") ;;
  esac
done
e2e_time=$((SECONDS - start))

echo "Times: build ${build_time} s, unit tests ${unit_time} s, end-to-end tests ${e2e_time} s"
if ((${#failed[@]})); then
  echo "End-to-end tests failed: ${failed[*]}" >&2
  exit 1
fi
