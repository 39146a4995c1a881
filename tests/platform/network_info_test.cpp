#include "platform/network_info.h"

#include <gtest/gtest.h>

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
      {kAll, kAll, Ip(192, 168, 1, 20)},  // eth0, its first address
      {kAll, kAll, Ip(172, 16, 0, 2)},    // eth2
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

}  // namespace
}  // namespace quillnet
