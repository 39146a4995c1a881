#!/usr/bin/env bash
# Builds Quillnet in build-release/, lets it bind port 67 without root, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_TESTS=OFF
cmake --build build-release

# Port 67 is a privileged port: grant the programs that one capability instead of root.
setcap cap_net_bind_service=+ep build-release/app/quillnet build-release/cli/quillnet-cli

exec build-release/app/quillnet
