#!/usr/bin/env bash
# Builds Quillnet in build-release/, lets it bind port 67 without root, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_TESTS=OFF
cmake --build build-release

# Port 67 is a privileged port: grant the programs that one capability instead of root.
programs=(build-release/cli/quillnet-cli)
wizard=$(find build-release -maxdepth 2 -type f -name quillnet -perm -u+x | head -n 1)
[ -n "$wizard" ] && programs+=("$wizard")
setcap cap_net_bind_service=+ep "${programs[@]}"

if [ -n "$wizard" ]; then
  exec "$wizard"
fi
exec build-release/cli/quillnet-cli listen
