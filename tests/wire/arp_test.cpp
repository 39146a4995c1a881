#include "wire/arp.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::Ip;

constexpr DeviceKey kMac = 0x02005e102030;

// A probe as RFC 5227 lays it out, written out field by field.
constexpr std::array<std::uint8_t, kArpFrameSize> kGoldenProbe = {
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff,  // Ethernet destination: broadcast
    0x02, 0x00, 0x5e, 0x10, 0x20, 0x30,  // Ethernet source: the sender
    0x08, 0x06,                          // ethertype: ARP
    0x00, 0x01,                          // htype: Ethernet
    0x08, 0x00,                          // ptype: IPv4
    0x06,                                // hlen
    0x04,                                // plen
    0x00, 0x01,                          // operation: request
    0x02, 0x00, 0x5e, 0x10, 0x20, 0x30,  // sender hardware address
    0x00, 0x00, 0x00, 0x00,              // sender IP: 0.0.0.0, so no cache learns it
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // target hardware address: unknown
    0xc0, 0xa8, 0x01, 0x64,              // target IP: 192.168.1.100
};

TEST(ArpFrame, ProbeHasTheGoldenBytesParsesBackAndClaimsNothing) {
  const auto probe = BuildArpProbe(kMac, Ip(192, 168, 1, 100));
  EXPECT_EQ(std::vector(probe.begin(), probe.end()),
            std::vector(kGoldenProbe.begin(), kGoldenProbe.end()));

  // A received probe carries Ethernet padding up to 60 bytes.
  std::vector<std::uint8_t> padded(probe.begin(), probe.end());
  padded.resize(60, 0xee);
  ArpPacket packet{};
  ASSERT_TRUE(ParseArpFrame(padded, packet));
  EXPECT_EQ(packet.operation, kArpOperationRequest);
  EXPECT_EQ(packet.senderMac, kMac);
  EXPECT_EQ(packet.senderIp, 0u);
  EXPECT_EQ(packet.targetMac, 0u);
  EXPECT_EQ(packet.targetIp, Ip(192, 168, 1, 100));
  // A probe claims nothing, not even the unspecified address it comes from.
  DeviceKey holder = 0;
  EXPECT_FALSE(ArpClaimsAddress(packet, Ip(192, 168, 1, 100), holder));
  EXPECT_FALSE(ArpClaimsAddress(packet, 0, holder));
}

// The answer of 10.0.0.7 (aa:bb:cc:dd:ee:01) to that host's probe.
constexpr std::array<std::uint8_t, kArpFrameSize> kGoldenReply = {
    0x02, 0x00, 0x5e, 0x10, 0x20, 0x30,  // Ethernet destination: the prober
    0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01,  // Ethernet source: the holder
    0x08, 0x06,                          // ethertype: ARP
    0x00, 0x01,                          // htype: Ethernet
    0x08, 0x00,                          // ptype: IPv4
    0x06,                                // hlen
    0x04,                                // plen
    0x00, 0x02,                          // operation: reply
    0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01,  // sender hardware address: the holder
    0x0a, 0x00, 0x00, 0x07,              // sender IP: 10.0.0.7, the address held
    0x02, 0x00, 0x5e, 0x10, 0x20, 0x30,  // target hardware address: the prober
    0x00, 0x00, 0x00, 0x00,              // target IP: the prober's 0.0.0.0
};

// The golden reply with one byte changed, cut to `size`.
std::vector<std::uint8_t> Reply(std::size_t offset = 0, std::uint8_t value = 0,
                                std::size_t size = kArpFrameSize) {
  std::vector<std::uint8_t> frame(kGoldenReply.begin(), kGoldenReply.end());
  if (offset != 0) frame[offset] = value;
  frame.resize(size);
  return frame;
}

TEST(ArpFrame, ReplyParsesAndClaimsItsSenderAddress) {
  const ArpFrame built = BuildArpReply(0xaabbccddee01, Ip(10, 0, 0, 7), kMac);
  EXPECT_EQ(std::vector(built.begin(), built.end()), Reply());

  ArpPacket packet{};
  ASSERT_TRUE(ParseArpFrame(Reply(), packet));
  EXPECT_EQ(packet.operation, kArpOperationReply);
  EXPECT_EQ(packet.senderMac, 0xaabbccddee01u);
  EXPECT_EQ(packet.targetMac, kMac);
  DeviceKey holder = 0;
  EXPECT_EQ(packet.targetIp, 0u);
  EXPECT_FALSE(ArpClaimsAddress(packet, Ip(10, 0, 0, 1), holder));
  EXPECT_EQ(holder, 0u);
  EXPECT_TRUE(ArpClaimsAddress(packet, Ip(10, 0, 0, 7), holder));
  EXPECT_EQ(holder, 0xaabbccddee01u);
}

TEST(ArpFrame, RejectsWhatIsNotAnEthernetIpv4RequestOrReply) {
  const struct {
    std::string name;
    std::vector<std::uint8_t> frame;
  } cases[] = {
      {"empty", {}},
      {"one byte short", Reply(0, 0, kArpFrameSize - 1)},
      {"IPv4 ethertype", Reply(kEthertypeOffset + 1, 0x00)},
      {"htype 6 (IEEE 802)", Reply(kArpHtypeOffset + 1, 6)},
      {"ptype 0x0806", Reply(kArpPtypeOffset + 1, 0x06)},
      {"hlen 8", Reply(kArpHlenOffset, 8)},
      {"plen 16", Reply(kArpPlenOffset, 16)},
      {"operation 3 (RARP request)", Reply(kArpOperOffset + 1, 3)},
      {"operation 0x0102", Reply(kArpOperOffset, 1)},
  };
  for (const auto& c : cases) {
    ArpPacket packet{7, 1, 2, 3, 4};
    EXPECT_FALSE(ParseArpFrame(c.frame, packet)) << c.name;
    EXPECT_EQ(packet.operation, 7) << c.name << ": the packet was changed";
  }
}

}  // namespace
}  // namespace quillnet
