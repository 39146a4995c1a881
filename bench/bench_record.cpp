// The history of a commissioning record of 100,000 assignments: reading the file and parsing
// every line, as `quillnet-cli history` does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "record/commissioning_record.h"

namespace {

void BM_History100000Records(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quillnet-bench-record-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                     ".csv");
  {
    std::ofstream file(path, std::ios::binary);
    quillnet::CommissioningEntry entry{
        "2026-12-09T08:15:00+01:00", "plant-pc-07", "technician", "quillnet-cli assign",
        "00:00:bc:12:34:56", "Rockwell Automation", "192.168.10.20", "255.255.255.0",
        "192.168.10.1", "BOOTP", "enp3s0", "confirmed", "kept"};
    file << quillnet::RecordAppendBytes(entry, 0, {});
    for (int index = 1; index < 100000; ++index) {
      entry.maker = index % 3 == 0 ? "Cisco Systems, Inc" : "Rockwell Automation";
      file << quillnet::FormatRecordLine(entry);
    }
  }
  for (auto _ : state) {
    const quillnet::RecordHistory history =
        quillnet::ReadCommissioningRecord(path.string(), "2026-12-01");
    if (history.entries.size() != 100000) state.SkipWithError("records lost");
    benchmark::DoNotOptimize(history);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_History100000Records)->Unit(benchmark::kMillisecond);

}  // namespace
