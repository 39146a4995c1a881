#!/usr/bin/env bash
# Cross-builds Quillnet.exe (the wizard), quillnet-cli.exe and their tests for 64-bit Windows
# with Debian's mingw-w64 into build-windows/, with the installer Quillnet-<version>-win64.msi
# (Debian's wixl), checks that the programs need no DLL beyond Windows' own, and packs
# quillnet-cli-<version>-win64.zip. The tests then run under Wine:
#   ctest --test-dir build-windows --output-on-failure
# Installs what it needs with apt-get first (as root). BUILD_DIR and JOBS override the folder
# and the parallel jobs.
set -euo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$source_dir/build-windows}"
jobs="${JOBS:-2}"

bash "$source_dir/scripts/install-deps.sh" windows

cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_dir" -j "$jobs"

# Windows ships these; anything else would have to travel with the programs.
allowed='^(KERNEL32|WS2_32|IPHLPAPI|ADVAPI32|USER32|GDI32|COMCTL32|ole32|OLEAUT32|SHELL32|msvcrt|api-ms-win-crt-.*|ucrtbase)\.dll$'
for exe in "$build_dir/cli/quillnet-cli.exe" "$build_dir/gui/Quillnet.exe"; do
  dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')"
  echo "$(basename "$exe") imports: $(echo "$dlls" | tr '\n' ' ')"
  if unexpected="$(echo "$dlls" | grep -Eiv "$allowed")"; then
    echo "$(basename "$exe") needs DLLs that Windows does not ship: $unexpected" >&2
    exit 1
  fi
done

# The prefix the tests run in is made once, so the first test does not pay for it.
prefix="$build_dir/wine"
if [[ ! -f "$prefix/system.reg" ]]; then
  WINEPREFIX="$prefix" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
fi

(cd "$build_dir" && cpack -G ZIP)
