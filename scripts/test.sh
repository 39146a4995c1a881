#!/usr/bin/env bash
# Builds Quillnet with its tests in build-test/ and runs them all. Run as root: the end-to-end
# tests make network namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
