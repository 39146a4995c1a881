#!/usr/bin/env bash
# Builds Quillnet in build-release/, lets it bind port 67 without root, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The programs as built, and the copy of quillnet-net-helper the build places beside each.
# tests/run_command/run_command.sh reads these four lines.
wizard=build-release/gui/quillnet
cli=build-release/cli/quillnet-cli
wizard_helper=build-release/gui/quillnet-net-helper
cli_helper=build-release/cli/quillnet-net-helper

bash scripts/install-deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_TESTS=OFF
cmake --build build-release

# Port 67 is a privileged port, and the ARP probes need a raw socket: the helper the programs
# start holds these two capabilities, the programs none. setcap takes the capabilities before
# each file; -r clears what an earlier run granted the programs.
setcap cap_net_bind_service,cap_net_raw=+ep "$wizard_helper" \
  cap_net_bind_service,cap_net_raw=+ep "$cli_helper"
setcap -r "$wizard" 2>/dev/null || true
setcap -r "$cli" 2>/dev/null || true

exec "$wizard"
