#include "platform/network_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/fake_platform.h"

namespace quillnet {
namespace {

using testing::Ip;

constexpr std::uint32_t kAll = 0xFFFFFFFFu;

// lo (1), eth0 up with two addresses (2), wlan0 down (3), eth1 up without an address (4),
// tun0 up but point-to-point (5), eth2 up, listed before the others (6).
NetworkSnapshot Bench() {
  NetworkSnapshot s;
  s.links = {
      {6, "eth2", true, true, true, false},  {1, "lo", true, true, false, true},
      {2, "eth0", true, true, true, false},  {3, "wlan0", false, false, true, false},
      {4, "eth1", true, true, true, false},  {5, "tun0", true, true, false, false},
  };
  s.addresses = {
      {1, Ip(127, 0, 0, 1), 8},        {6, Ip(172, 16, 0, 2), 16},
      {2, Ip(192, 168, 1, 20), 24},    {2, Ip(192, 168, 7, 1), 24},
      {3, Ip(10, 9, 9, 9), 8},         {5, Ip(10, 8, 0, 2), 32},
  };
  s.routes = {
      {0, 0, Ip(192, 168, 1, 1), 0, 2},
      {Ip(192, 168, 1, 0), 24, 0, Ip(192, 168, 1, 20), 2},
      {Ip(172, 16, 0, 0), 16, 0, 0, 6},
      {kAll, 32, 0, 0, 4},  // a limited-broadcast route someone added by hand
  };
  return s;
}

TEST(NetworkInfo, RouteRowsHaveOneBroadcastRowPerInterfaceFirst) {
  const std::vector<RouteRow> expected = {
      {kAll, kAll, Ip(192, 168, 1, 20), 2},  // eth0, its first address
      {kAll, kAll, Ip(172, 16, 0, 2), 6},    // eth2
      {kAll, kAll, Ip(127, 0, 0, 1)},     // loopback
      {0, 0, Ip(192, 168, 1, 1)},
      {Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), Ip(192, 168, 1, 20)},
      {Ip(172, 16, 0, 0), Ip(255, 255, 0, 0), Ip(172, 16, 0, 2)},
  };
  EXPECT_EQ(BuildRouteRows(Bench()), expected);
}

TEST(NetworkInfo, AdapterListSkipsLoopbackAndFillsGaps) {
  const std::vector<AdapterInfo> adapters = BuildAdapterList(Bench());
  ASSERT_EQ(adapters.size(), 5u);
  EXPECT_EQ(adapters[0].name, "eth0");
  ASSERT_EQ(adapters[0].addresses.size(), 2u);
  EXPECT_EQ(adapters[0].addresses[1].ipAddress, "192.168.7.1");
  EXPECT_EQ(adapters[0].addresses[0].ipMask, "255.255.255.0");
  EXPECT_EQ(adapters[0].gateway, "192.168.1.1");
  EXPECT_EQ(adapters[1].name, "wlan0");  // down, still listed
  EXPECT_EQ(adapters[1].addresses[0].ipMask, "255.0.0.0");
  EXPECT_EQ(adapters[1].gateway, "0.0.0.0");
  EXPECT_EQ(adapters[2].name, "eth1");
  ASSERT_EQ(adapters[2].addresses.size(), 1u);
  EXPECT_EQ(adapters[2].addresses[0].ipAddress, "0.0.0.0");
  EXPECT_EQ(adapters[2].addresses[0].ipMask, "0.0.0.0");
  EXPECT_EQ(adapters[3].addresses[0].ipMask, "255.255.255.255");
  EXPECT_EQ(adapters[4].name, "eth2");
  EXPECT_EQ(adapters[4].gateway, "0.0.0.0");
}

TEST(NetworkInfo, NoLinksNoRows) {
  EXPECT_TRUE(BuildRouteRows({}).empty());
  EXPECT_TRUE(BuildAdapterList({}).empty());
}

// A network whose rows change with every read: read n gives n rows whose next hop is n, and
// the reads are counted.
struct CountingNetwork {
  std::atomic<int> reads{0};
  std::atomic<RouteQueryResult> result{RouteQueryResult::kOk};

  RouteCache::Reader Reader() {
    return [this](std::vector<RouteRow>& rows) {
      const auto read = static_cast<std::uint32_t>(++reads);
      if (result != RouteQueryResult::kOk) return result.load();
      rows.assign(read, RouteRow{kAll, kAll, read});
      return RouteQueryResult::kOk;
    };
  }
};

std::vector<RouteRow> Query(RouteSource& source, RouteQueryResult expected) {
  std::vector<RouteRow> rows;
  EXPECT_EQ(source.QueryRoutes(rows), expected);
  return rows;
}

TEST(RouteCache, AnswersFromTheLastRefreshWithoutReading) {
  CountingNetwork network;
  RouteCache cache(network.Reader());
  cache.Refresh();
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 1u);
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 1u);
  EXPECT_EQ(network.reads, 1);

  cache.Refresh();
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 2u);
  EXPECT_EQ(network.reads, 2);
}

TEST(RouteCache, ReadsDirectlyUntilARefreshSucceeds) {
  CountingNetwork network;
  RouteCache cache(network.Reader());
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 1u);
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 2u);

  network.result = RouteQueryResult::kNoMemory;
  cache.Refresh();
  Query(cache, RouteQueryResult::kNoMemory);

  network.result = RouteQueryResult::kOk;
  cache.Refresh();
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 5u);
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 5u);
}

TEST(RouteCache, RowsThatMayBeStaleAreNeverServed) {
  CountingNetwork network;
  RouteCache cache(network.Reader());
  cache.Refresh();
  network.result = RouteQueryResult::kFailed;
  cache.Refresh();
  // The rows of the first read may no longer describe the network: the query reads again.
  Query(cache, RouteQueryResult::kFailed);

  network.result = RouteQueryResult::kOk;
  cache.Refresh();
  cache.Drop();
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 5u);
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 6u);
}

TEST(RouteCache, QueriesWhileRefreshingSeeWholeReads) {
  CountingNetwork network;
  RouteCache cache(network.Reader());
  cache.Refresh();
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    for (int i = 0; i < 200; ++i) cache.Refresh();
    done = true;
  });
  int checked = 0;
  while (!done || checked == 0) {
    const std::vector<RouteRow> rows = Query(cache, RouteQueryResult::kOk);
    ASSERT_FALSE(rows.empty());
    // Read n has n rows, each with next hop n.
    for (const RouteRow& row : rows) ASSERT_EQ(row.nextHop, rows.size());
    ++checked;
  }
  watcher.join();
  EXPECT_EQ(Query(cache, RouteQueryResult::kOk).size(), 201u);
}

}  // namespace
}  // namespace quillnet
