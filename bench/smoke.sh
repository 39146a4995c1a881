#!/usr/bin/env bash
# README's Performance commands, each once at a small size, so that they keep building and
# running: build-bench configured and built as README says, each benchmark of quillnet_bench,
# then each bench script through network namespaces, the Win32 page under Wine included.
# The figures are printed, not judged; a command that fails, or a benchmark that reports an
# error, fails the run. Run as root. Takes a few minutes, most of it the build.
#
#   bench/smoke.sh
#
# The Windows build is scripts/build-windows.sh's build-windows/, brought up to date first (in
# CI scripts/test-windows.sh has built it; elsewhere the first run builds it whole).
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-bench"
windows_build=$PWD/build-windows
work=$(mktemp -d -t quillnet-bench-smoke.XXXXXX)
trap 'rm -rf "$work"' EXIT

# step <label> <command...>: runs the command and notes how long it took.
times=()
step() {
  local label="$1" start=$SECONDS
  shift
  echo "== $label"
  "$@"
  times+=("$label: $((SECONDS - start)) s")
}

bash scripts/install-deps.sh test

# configure_and_build ON|OFF [TARGET...]: build-bench as README configures it, with the tests
# or without; every target when none is named.
configure_and_build() {
  local tests="$1" targets=()
  shift
  (($# == 0)) || targets=(--target "$@")
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLNET_BENCH=ON \
    -DQUILLNET_TESTS="$tests"
  cmake --build "$build" "${targets[@]}"
}
step "build-bench" configure_and_build OFF

# Every benchmark once, briefly. Google Benchmark exits 0 even when a benchmark skipped with an
# error, so its report is read for them.
benchmarks() {
  "$build/bench/quillnet_bench" --benchmark_min_time=0.01 \
    --benchmark_out="$work/bench.json" --benchmark_out_format=json
  python3 - "$work/bench.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
failed = [f"{r['name']}: {r.get('error_message', '')}" for r in runs if r.get("error_occurred")]
if not runs or failed:
    sys.exit("benchmarks that failed: " + ("; ".join(failed) or "none ran"))
print(f"{len(runs)} benchmarks ran")
PY
}
step "quillnet_bench" benchmarks

step "reply_latency.sh (serve)" bash bench/reply_latency.sh "$build" 200
step "reply_latency.sh (reply-server)" bash bench/reply_latency.sh "$build" 200 reply-server
step "reply_latency.sh --against-dnsmasq" \
  bash bench/reply_latency.sh --against-dnsmasq "$build" 300
step "early_answer.sh" bash bench/early_answer.sh 1 "$build" 2

# The page mode's driver comes with the tests.
step "build-bench with e2e_wizard_driver" configure_and_build ON quillnet-cli e2e_wizard_driver
step "burst.sh" bash bench/burst.sh "$build" burst 50 steady 500 20 2 page 500 20 2 fresh 2

step "build-windows" env BUILD_DIR="$windows_build" bash scripts/build-windows.sh
step "burst_windows.sh" env QUILLNET_WINE_PREFIX_TEMPLATE="$windows_build/wine" \
  bash bench/burst_windows.sh "$windows_build" 500 20 2

echo "bench smoke: PASS"
printf '  %s\n' "${times[@]}"
