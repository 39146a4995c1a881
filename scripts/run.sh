#!/usr/bin/env bash
# Builds Quillnet in build-release/, lets it bind port 67 without root, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The programs as built. tests/run_command/run_command.sh reads these two lines.
wizard=build-release/gui/quillnet
cli=build-release/cli/quillnet-cli

bash scripts/install-deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_TESTS=OFF
cmake --build build-release

# Port 67 is a privileged port, and the ARP probes need a raw socket: grant the programs these
# two capabilities instead of root. setcap takes the capabilities before each file.
setcap cap_net_bind_service,cap_net_raw=+ep "$wizard" cap_net_bind_service,cap_net_raw=+ep "$cli"

exec "$wizard"
