#include "app/device_network.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bootp/bootp_server.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

constexpr int kFirst = 2;   // eth0, 192.168.1.20/24: the first adapter
constexpr int kSecond = 3;  // eth1, 10.62.0.1/24
constexpr char kSubnet[] = "WARNING: this address is in a different Subnet.";
constexpr char kGatewayOutside[] = "WARNING: the default gateway is outside the device's subnet.";

testing::FakeAdapterSource TwoNetworks() {
  testing::FakeAdapterSource adapters;
  adapters.adapters = {{"eth0", {{"192.168.1.20", "255.255.255.0"}}, "192.168.1.1", kFirst},
                       {"eth1", {{"10.62.0.1", "255.255.255.0"}}, "0.0.0.0", kSecond}};
  return adapters;
}

// One check, for a device heard on an interface (0: not heard) or through a relay agent, as
// both front ends make it.
TEST(DeviceNetwork, TheAddressIsCheckedAgainstTheNetworkTheDeviceIsOn) {
  testing::FakeAdapterSource adapters = TwoNetworks();
  const struct {
    const char* label;
    int heardOn;
    std::string relay;
    std::string ip, mask, gateway;
    bool passed;
    std::string error;
    std::vector<std::string> warnings;
  } cases[] = {
      {"on the second interface, in its network", kSecond, "", "10.62.0.60", "255.255.255.0",
       "10.62.0.254", true, "", {}},
      {"not heard yet, in the second network", 0, "", "10.62.0.60", "255.255.255.0", "", true,
       "", {}},
      {"not heard yet, in none of this PC's networks", 0, "", "172.16.0.5", "255.255.0.0", "",
       true, "", {kSubnet}},
      {"on the first interface, in the second network", kFirst, "", "10.62.0.60",
       "255.255.255.0", "", true, "", {kSubnet}},
      {"heard on an interface without an address: as if not heard", 9, "", "10.62.0.60",
       "255.255.255.0", "", true, "", {}},
      {"behind a relay agent, in its three-part network", 0, "10.70.0.1", "10.70.0.50",
       "255.255.255.0", "10.70.0.1", true, "", {}},
      {"behind a relay agent, in this PC's network", 0, "10.70.0.1", "10.62.0.60",
       "255.255.255.0", "", true, "", {kSubnet}},
      {"the subnet's warning, then the gateway's", 0, "", "172.16.0.5", "255.255.255.0",
       "172.17.0.1", true, "", {kSubnet, kGatewayOutside}},
      {"this PC's own address, on whichever interface", kFirst, "", "10.62.0.1",
       "255.255.255.0", "", false,
       "ERROR: 10.62.0.1 is already in use by this PC's interface eth1.", {}},
      {"a gateway with an empty part", kSecond, "", "10.62.0.60", "255.255.255.0", "10.62.0.",
       false, "ERROR: Incomplete Default gateway.", {}},
      {"an address that is no host's", kSecond, "", "10.62.0.255", "255.255.255.0", "", false,
       "ERROR: Invalid IP address (Host portion).", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const DeviceNetwork where = LocateDevice(c.heardOn, c.relay, adapters);
    const AddressVerdict verdict = CheckDeviceAddresses(c.ip, c.mask, c.gateway, where);
    EXPECT_EQ(verdict.passed, c.passed);
    EXPECT_EQ(verdict.error, c.error);
    EXPECT_EQ(verdict.warnings, c.warnings);
    EXPECT_EQ(verdict.ownHolder.empty(), c.error.find("this PC") == std::string::npos);
  }
}

// The server says where it heard the device: the interface of its latest request, or the relay
// agent it came through.
TEST(DeviceNetwork, TheServerTellsWhereTheDeviceWasHeard) {
  testing::FakeAdapterSource adapters = TwoNetworks();
  testing::FakeSocketApi sockets;
  testing::FakeRouteSource routes;
  BootPServer server(sockets, routes);
  ASSERT_TRUE(server.Start());
  testing::Request request;
  sockets.Push(request.Bytes(), kSecond);
  server.ServiceOneRequest();

  DeviceNetwork where = LocateDevice(&server, request.mac, adapters);
  EXPECT_EQ(where.interfaces, std::vector<int>{kSecond});
  ASSERT_TRUE(where.network);
  EXPECT_EQ(where.network->ipAddress, "10.62.0.1");
  EXPECT_EQ(where.network->subnetMask, "255.255.255.0");
  EXPECT_EQ(where.pcNetworks.size(), 2u);
  EXPECT_EQ(where.own.size(), 2u);

  EXPECT_FALSE(LocateDevice(&server, request.mac + 1, adapters).network) << "not heard";
  EXPECT_FALSE(LocateDevice(nullptr, request.mac, adapters).network) << "no server yet";
  server.Stop();
}

}  // namespace
}  // namespace quillnet
