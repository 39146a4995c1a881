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
      // Subnet warning: a substring search that never blocks.
      {"10.0.0.9", "255.255.255.0", "10.0.0.", true, ""},
      {"10.0.1.9", "255.255.255.0", "10.0.0.", true, kWarning},
      {"110.0.0.9", "255.255.255.0", "10.0.0.", true, ""},
      {"10.0.1.0", "255.255.255.0", "10.0.0.", false, kHost},  // an error replaces the warning
      // Texts that do not read as four numbers block without an error of their own.
      {"192.168.1.", "255.255.255.0", "192.168.1.", false, ""},
      {"10.0.1.", "255.255.255.0", "192.168.1.", false, kWarning},
      {"192.168.1.50", "255.255.255.", "", false, ""},
      {"", "", "", false, ""},
      {" 192. 168.1.50junk", "255.255.255.0", "", true, ""},  // as scanf reads it
  };
  for (const auto& c : cases) {
    std::string line = "stale";
    EXPECT_EQ(ValidateAddresses(c.ip, c.mask, c.prefix, line), c.passes)
        << c.ip << " / " << c.mask;
    EXPECT_EQ(line, c.line) << c.ip << " / " << c.mask;
  }
}

}  // namespace
}  // namespace quillnet
