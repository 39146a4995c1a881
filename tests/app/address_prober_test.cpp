// Probes run on the prober's own thread; only the latest one asked for has a say.
#include "app/address_prober.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/support/fake_platform.h"

namespace quillnet {
namespace {

using testing::FakeNeighbourCheck;
using testing::Ip;

constexpr int kInterface = 2;
constexpr DeviceKey kHolder = 0x02005E000077;

struct Delivered {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::uint64_t, ProbeResult>> results;

  AddressProber::Done Sink() {
    return [this](std::uint64_t generation, const ProbeResult& result) {
      std::lock_guard lock(mutex);
      results.emplace_back(generation, result);
      changed.notify_all();
    };
  }
  bool WaitForCount(std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10),
                            [&] { return results.size() >= count; });
  }
};

ProbeRequest Request(std::uint32_t ip, std::chrono::milliseconds duration) {
  ProbeRequest request;
  request.interfaces = {kInterface};
  request.ip = ip;
  request.duration = duration;
  request.interval = std::chrono::milliseconds(50);
  return request;
}

TEST(AddressProber, AProbeReplacedByANewOneSaysNothing) {
  FakeNeighbourCheck neighbours;
  neighbours.AnswerProbes({{Ip(10, 0, 0, 9), kHolder}});
  Delivered delivered;
  {
    AddressProber prober(neighbours);
    // A long probe nobody answers, replaced at once by one that is answered.
    const std::uint64_t first =
        prober.Start(Request(Ip(10, 0, 0, 8), std::chrono::seconds(30)), delivered.Sink());
    const std::uint64_t second =
        prober.Start(Request(Ip(10, 0, 0, 9), std::chrono::seconds(30)), delivered.Sink());
    EXPECT_GT(second, first);
    ASSERT_TRUE(delivered.WaitForCount(1));
    EXPECT_EQ(prober.Generation(), second);
  }
  // The prober is gone: whatever it delivered was the second probe's answer alone.
  ASSERT_EQ(delivered.results.size(), 1u);
  EXPECT_EQ(delivered.results[0].second.outcome, ProbeOutcome::kAnswered);
  EXPECT_EQ(delivered.results[0].second.holder, kHolder);
}

TEST(AddressProber, CancelAndTheEndOfTheProberStopALongProbe) {
  FakeNeighbourCheck neighbours;
  Delivered delivered;
  {
    AddressProber prober(neighbours);
    prober.Start(Request(Ip(10, 0, 0, 8), std::chrono::minutes(10)), delivered.Sink());
    // Once the probe runs, Cancel ends it without a result.
    while (neighbours.questions().empty()) std::this_thread::yield();
    prober.Cancel();
    // A later probe runs as usual, and the prober's end cuts it short.
    prober.Start(Request(Ip(10, 0, 0, 8), std::chrono::minutes(10)), delivered.Sink());
  }
  EXPECT_TRUE(delivered.results.empty());
  EXPECT_EQ(neighbours.running(), 0);
}

}  // namespace
}  // namespace quillnet
