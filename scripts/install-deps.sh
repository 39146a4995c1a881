#!/usr/bin/env bash
# Installs what Quillnet needs to build and run (`run`), or to build and test (`test`), from
# Debian's packages; `windows` to cross-build quillnet-cli.exe and run its unit tests under
# Wine, `windows-test` to run its end-to-end tests too. Run as root.
set -euo pipefail

purpose=${1:-run}
build=(cmake ninja-build g++ pkg-config libnl-route-3-dev libcli11-dev libsqlite3-dev
       qt6-base-dev qt6-base-dev-tools fonts-liberation libcap2-bin libcap-dev
       nlohmann-json3-dev ieee-data)
# The Windows build takes only the header-only libraries from Debian's Linux packages.
windows=(cmake ninja-build mingw-w64 binutils-mingw-w64-x86-64 wine wine64 googletest
         libcli11-dev nlohmann-json3-dev wixl msitools python3 ieee-data)
case "$purpose" in
  run)  extra=() ;;
  test) extra=(clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev tshark
               bootpc isc-dhcp-client isc-dhcp-relay dnsmasq-base busybox iproute2 python3 xvfb
               xauth x11-utils git
               desktop-file-utils lintian appstream file dpkg-dev devscripts) ;;
  windows) build=("${windows[@]}"); extra=() ;;
  windows-test) build=("${windows[@]}"); extra=(bootpc isc-dhcp-client isc-dhcp-relay iproute2 python3 xvfb) ;;
  *)    echo "usage: $0 run|test|windows|windows-test" >&2; exit 2 ;;
esac

missing=()
for package in "${build[@]}" "${extra[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
