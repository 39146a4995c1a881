// The makers' table: loading the IEEE registries (what a program does once, on a thread of its
// own), and one lookup (what the Listen page does per device).
#include <benchmark/benchmark.h>

#include "vendors/vendor_table.h"
#include "wire/message.h"

namespace {

void BM_VendorLoad(benchmark::State& state) {
  for (auto _ : state) {
    quillnet::Vendors vendors;
    vendors.Load();
    benchmark::DoNotOptimize(vendors);
  }
}
BENCHMARK(BM_VendorLoad)->Unit(benchmark::kMillisecond);

void BM_VendorLookup(benchmark::State& state) {
  quillnet::Vendors vendors;
  vendors.Load();
  // An MA-S, an MA-M and an MA-L maker, and a prefix nobody holds: each tries every length.
  const quillnet::DeviceKey keys[] = {
      quillnet::ParseMacKey("70:b3:d5:f2:f0:01"), quillnet::ParseMacKey("20:85:93:b0:00:03"),
      quillnet::ParseMacKey("00:00:bc:12:34:56"), quillnet::ParseMacKey("f0:f0:f0:00:00:01")};
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vendors.Lookup(keys[next]));
    next = (next + 1) % std::size(keys);
  }
}
BENCHMARK(BM_VendorLookup);

}  // namespace
