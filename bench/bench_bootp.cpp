#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "bootp/bootp_server.h"
#include "wire/message.h"

namespace quillnet {
namespace {

// A device already in a table of range(0) rows asks again.
void BM_RecordRequest_ExistingKey(benchmark::State& state) {
  const auto rows = static_cast<std::size_t>(state.range(0));
  RequestTable table = TableOf(rows);
  std::size_t i = 0;
  for (auto _ : state) {
    table.Record(KeyOf(i), true, 1);
    i = (i * 7 + 1) % rows;
  }
}

// A device not yet heard asks, with range(0) rows in the table. Below the limit the table grows
// by at most 1024 rows before it is built again; at 65536 rows the device is not recorded.
void BM_RecordRequest_NewKey(benchmark::State& state) {
  constexpr std::size_t kBatch = 1024;
  const auto rows = static_cast<std::size_t>(state.range(0));
  RequestTable table = TableOf(rows);
  std::size_t added = 0;
  for (auto _ : state) {
    // A full table turns new devices away and stays as it is; only a growing one is rebuilt.
    if (added == kBatch && rows < RequestTable::kMaxRows) {
      state.PauseTiming();
      table = TableOf(rows);
      added = 0;
      state.ResumeTiming();
    }
    table.Record(KeyOf(rows + added), true, 1);
    added = added == kBatch ? 0 : added + 1;
  }
}

std::array<std::uint8_t, kMessageBufferSize> Request() {
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  buffer[kOpOffset] = kOpBootRequest;
  buffer[kHtypeOffset] = 1;
  buffer[kHlenOffset] = kEthernetAddressLength;
  const std::uint8_t mac[kMacSize] = {0x02, 0x00, 0x5e, 0x10, 0x20, 0x30};
  std::memcpy(buffer.data() + kChaddrOffset, mac, sizeof mac);
  return buffer;
}

void BM_ClassifyRequest(benchmark::State& state) {
  const auto buffer = Request();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ClassifyRequest(buffer, kMinRequestLength));
  }
}

void BM_BuildReply(benchmark::State& state) {
  auto buffer = Request();
  for (auto _ : state) {
    BuildReply(buffer, 0x3201A8C0u, 0x00FFFFFFu, 0x0101A8C0u);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_RecordRequest_ExistingKey)->Arg(1)->Arg(1024)->Arg(65536);
BENCHMARK(BM_RecordRequest_NewKey)->Arg(1)->Arg(1024)->Arg(65536);
BENCHMARK(BM_ClassifyRequest);
BENCHMARK(BM_BuildReply);

}  // namespace
}  // namespace quillnet

BENCHMARK_MAIN();
