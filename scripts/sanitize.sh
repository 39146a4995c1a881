#!/usr/bin/env bash
# The test suite under AddressSanitizer + UBSan and under ThreadSanitizer, then each fuzz
# target for a bounded time (FUZZ_SECONDS, 60 by default). Expects scripts/test.sh to have
# installed the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-60}

echo "== AddressSanitizer + UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLNET_SANITIZE=address,undefined
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2

echo "== ThreadSanitizer (engine)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLNET_GUI=OFF \
  -DQUILLNET_SANITIZE=thread
cmake --build build-tsan
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j2 -L unit

echo "== Fuzzing, ${fuzz_seconds} s per target"
CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLNET_GUI=OFF -DQUILLNET_TESTS=OFF -DQUILLNET_FUZZ=ON -DQUILLNET_SANITIZE=address,undefined
# The targets alone: the programs beside them are built and tested above.
fuzz_targets=(fuzz_bootp_message fuzz_text_input fuzz_net_helper_request)
cmake --build build-fuzz --target "${fuzz_targets[@]}"
for name in "${fuzz_targets[@]}"; do
  target="build-fuzz/fuzz/$name"
  work=$(mktemp -d)
  "$target" -max_total_time="$fuzz_seconds" -max_len=1100 -print_final_stats=1 \
    "$work" fuzz/corpus
  rm -rf "$work"
  echo "$name: no crash in ${fuzz_seconds} s"
done
