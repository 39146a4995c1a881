#include "bootp/address_check.h"

#include <gtest/gtest.h>

namespace quillnet {
namespace {

constexpr char kWarning[] = "WARNING: this address is in a different Subnet.";
constexpr char kBadMask[] = "ERROR: Invalid Subnet Mask.";
constexpr char kMulticast[] = "ERROR: Can't assign a Multicast address.";
constexpr char kLoopback[] = "ERROR: Loopback IP range.";
constexpr char kNoAddress[] = "ERROR: Invalid IP address.";
constexpr char kNetwork[] = "ERROR: Invalid IP address (Network portion).";
constexpr char kHost[] = "ERROR: Invalid IP address (Host portion).";

TEST(AddressCheck, SubnetPrefixIsCutAfterTheLastDot) {
  EXPECT_EQ(SubnetPrefix("192.168.1.20"), "192.168.1.");
  EXPECT_EQ(SubnetPrefix("10.0.0.5"), "10.0.0.");
  EXPECT_EQ(SubnetPrefix(""), "");
  EXPECT_EQ(SubnetPrefix("localhost"), "");
}

TEST(AddressCheck, JudgesAddressAndMask) {
  const struct {
    const char* ip;
    const char* mask;
    const char* prefix;
    bool passes;
    const char* line;
  } cases[] = {
      {"192.168.1.50", "255.255.255.0", "192.168.1.", true, ""},
      {"192.168.1.0", "255.255.255.0", "192.168.1.", false, kHost},
      {"192.168.1.255", "255.255.255.0", "192.168.1.", false, kHost},
      {"255.255.255.7", "255.255.255.0", "", false, kNetwork},
      {"0.0.0.7", "255.255.255.0", "", true, ""},
      {"192.168.1.50", "255.255.255.255", "", false, kBadMask},
      {"192.168.1.50", "0.0.0.0", "", false, kBadMask},
      {"192.168.1.50", "255.0.255.0", "", false, kBadMask},
      {"192.168.1.50", "255.255.255.254", "", false, kHost},
      {"192.168.1.51", "255.255.255.254", "", false, kHost},
      {"10.1.2.3", "128.0.0.0", "", true, ""},
      {"224.0.0.1", "255.0.0.0", "", false, kMulticast},
      {"239.255.255.254", "255.0.0.0", "", false, kMulticast},
      {"240.0.0.1", "255.0.0.0", "", true, ""},
      {"127.0.0.1", "255.0.0.0", "", false, kLoopback},
      {"127.0.0.1", "255.255.255.255", "", false, kBadMask},  // the mask is tested first
      {"0.0.0.0", "255.255.255.0", "", false, kNoAddress},
      {"000.0.00.0", "255.255.255.0", "", false, kNoAddress},
      // Leading zeros are decimal, as the entry shows them: 060 is 60, 08 is 8.
      {"10.77.0.060", "255.255.255.0", "", true, ""},
      {"192.168.1.08", "255.255.255.000", "", true, ""},
      // Without the PC's mask the warning looks for the PC's prefix in the text.
      {"10.0.0.9", "255.255.255.0", "10.0.0.", true, ""},
      {"10.0.1.9", "255.255.255.0", "10.0.0.", true, kWarning},
      {"110.0.0.9", "255.255.255.0", "10.0.0.", true, ""},
      {"10.0.1.0", "255.255.255.0", "10.0.0.", false, kHost},  // an error replaces the warning
      // Texts that do not read as four numbers block without an error of their own.
      {"192.168.1.", "255.255.255.0", "192.168.1.", false, ""},
      {"10.0.1.", "255.255.255.0", "192.168.1.", false, kWarning},
      {"192.168.1.50", "255.255.255.", "", false, ""},
      {"", "", "", false, ""},
      {" 192. 168.1.50junk", "255.255.255.0", "", false, ""},
      {"10.1", "255.0.0.0", "", false, ""},
      {"1.2.3.300", "255.0.0.0", "", false, ""},
  };
  for (const auto& c : cases) {
    std::string line = "stale";
    // The PC's address is the prefix and a 1; its mask is not known.
    const LocalNetwork local{*c.prefix != '\0' ? std::string(c.prefix) + "1" : "", ""};
    EXPECT_EQ(ValidateAddresses(c.ip, c.mask, local, line), c.passes) << c.ip << " / " << c.mask;
    EXPECT_EQ(line, c.line) << c.ip << " / " << c.mask;
  }
}

TEST(AddressCheck, WarnsWhenTheDeviceAndThePcAreInDifferentSubnets) {
  const struct {
    const char* pc;
    const char* pcMask;
    const char* ip;
    const char* mask;
    bool warned;
  } cases[] = {
      // The PC's /8 holds the device, whose /8 holds the PC: the same subnet.
      {"10.0.0.1", "255.0.0.0", "10.1.2.3", "255.0.0.0", false},
      // The device's own mask puts the PC outside its subnet.
      {"10.0.0.1", "255.0.0.0", "10.0.0.9", "255.255.255.252", true},
      {"10.0.0.1", "255.0.0.0", "10.0.0.2", "255.255.255.252", false},
      {"192.168.1.20", "255.255.255.0", "192.168.2.20", "255.255.0.0", true},
      {"192.168.1.20", "255.255.0.0", "192.168.2.20", "255.255.0.0", false},
      {"172.16.5.1", "255.255.252.0", "172.16.7.200", "255.255.252.0", false},
      {"172.16.5.1", "255.255.252.0", "172.16.8.1", "255.255.252.0", true},
      // A PC mask that is no mask counts as unknown: the prefix decides.
      {"10.0.0.1", "0.0.0.0", "10.0.0.9", "255.255.255.252", false},
      {"10.0.0.1", "0.0.0.0", "10.1.2.3", "255.0.0.0", true},
      // Without an address of its own the PC warns of nothing.
      {"", "", "10.1.2.3", "255.0.0.0", false},
  };
  for (const auto& c : cases) {
    std::string line;
    EXPECT_TRUE(ValidateAddresses(c.ip, c.mask, {c.pc, c.pcMask}, line)) << c.ip;
    EXPECT_EQ(line, c.warned ? kWarning : "") << c.pc << "/" << c.pcMask << " and " << c.ip << "/"
                                              << c.mask;
  }
}

// The gateway must be a host of the subnet the mask gives the device, and not the device.
TEST(GatewayWarning, NamesAGatewayTheDeviceCannotReach) {
  constexpr char kOutside[] = "WARNING: the default gateway is outside the device's subnet.";
  constexpr char kItself[] = "WARNING: the default gateway is the device's own address.";
  constexpr char kNetwork[] =
      "WARNING: the default gateway is the network address of the device's subnet.";
  constexpr char kBroadcast[] =
      "WARNING: the default gateway is the broadcast address of the device's subnet.";
  const struct {
    const char* ip;
    const char* mask;
    const char* gateway;
    const char* warning;
  } cases[] = {
      {"10.77.0.50", "255.255.255.0", "10.77.0.1", ""},
      {"10.77.0.50", "255.255.255.0", "", ""},  // none
      {"10.77.0.50", "255.255.255.0", "0.0.0.0", ""},  // none, as typed
      {"10.77.0.50", "255.255.255.0", "192.168.9.1", kOutside},
      {"10.77.0.50", "255.255.255.0", "10.77.1.1", kOutside},
      {"10.77.0.50", "255.255.0.0", "10.77.1.1", ""},
      {"10.77.0.50", "255.255.255.0", "10.77.0.50", kItself},
      {"10.77.0.50", "255.255.255.0", "10.77.0.0", kNetwork},
      {"10.77.0.50", "255.255.255.0", "10.77.0.255", kBroadcast},
      {"10.77.0.50", "255.255.255.0", "255.255.255.255", kOutside},
      {"10.77.0.50", "255.255.255.252", "10.77.0.49", ""},
      {"10.77.0.50", "255.255.255.252", "10.77.0.51", kBroadcast},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GatewayWarning(c.ip, c.mask, c.gateway), c.warning)
        << c.ip << "/" << c.mask << " via " << c.gateway;
  }
}

}  // namespace
}  // namespace quillnet
