// DHCP on the BOOTP layout: the option reader and the replies' bytes.
#include "wire/dhcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::Dhcp;
using testing::Discover;
using testing::Ip;
using testing::Request;
using testing::RequestFor;

TEST(DhcpOptions, ReadsWhatTheServerNeedsAndNothingMalformed) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> message;
    std::uint8_t type;
    bool hasRequested;
    bool hasServerId;
  };
  std::vector<std::uint8_t> noCookie = Discover();
  noCookie[kCookieOffset] = 0;
  std::vector<std::uint8_t> overloaded = Dhcp({52, 1, kOverloadFile | kOverloadSname});
  // Options in the file field come before those in sname.
  const std::uint8_t inFile[] = {53, 1, kDhcpRequest, 255};
  const std::uint8_t inSname[] = {53, 1, kDhcpInform, 54, 4, 10, 0, 0, 1, 255};
  std::copy(std::begin(inFile), std::end(inFile), overloaded.begin() + kFileOffset);
  std::copy(std::begin(inSname), std::end(inSname), overloaded.begin() + kSnameOffset);
  std::vector<std::uint8_t> truncated = Dhcp({0, 0, 53, 1, kDhcpDecline, 50, 4, 10, 0});
  truncated.resize(kOptionsOffset + 9);  // ends inside option 50

  const Case cases[] = {
      {"a BOOTP request", Request{}.Bytes(), kBootpMessage, false, false},
      {"a discover", Discover(), kDhcpDiscover, false, false},
      {"without the cookie there are no options", noCookie, kBootpMessage, false, false},
      {"selecting", RequestFor({10, 0, 0, 9}, {10, 0, 0, 1}), kDhcpRequest, true, true},
      {"a type of the wrong length is none", Dhcp({53, 2, 1, 1}), kBootpMessage, false, false},
      {"an address of the wrong length is none", Dhcp({53, 1, 3, 50, 3, 10, 0, 0}), kDhcpRequest,
       false, false},
      {"the first of two types counts", Dhcp({53, 1, 7, 53, 1, 1}), kDhcpRelease, false, false},
      {"overloaded file and sname", overloaded, kDhcpRequest, false, true},
      {"pads, then a truncated option", truncated, kDhcpDecline, false, false},
      {"nothing after the end option", Dhcp({255, 53, 1, 1}), kBootpMessage, false, false},
  };
  for (const Case& c : cases) {
    const DhcpOptions options = ReadDhcpOptions(c.message, c.message.size());
    EXPECT_EQ(options.messageType, c.type) << c.name;
    EXPECT_EQ(options.hasRequestedAddress, c.hasRequested) << c.name;
    EXPECT_EQ(options.hasServerId, c.hasServerId) << c.name;
  }
  // The length given is where the datagram ends, whatever the buffer holds after it.
  EXPECT_EQ(ReadDhcpOptions(Discover(), kOptionsOffset + 2).messageType, kBootpMessage);
  EXPECT_EQ(MessageTypeText(kDhcpDecline), "DHCPDECLINE");
  EXPECT_EQ(MessageTypeText(kBootpMessage), "BOOTP");
  EXPECT_EQ(MessageTypeText(42), "DHCP type 42");
}

TEST(DhcpReply, GoldenOfferAckAndNak) {
  Request fields;
  fields.xid = 0x56F3EA22;
  fields.ciaddr[0] = 192;  // a renewing client names its address
  fields.ciaddr[1] = 168;
  fields.ciaddr[2] = 1;
  fields.ciaddr[3] = 50;
  std::vector<std::uint8_t> request = Dhcp({53, 1, kDhcpRequest}, fields);
  request[kFlagsOffset] = 0x80;  // broadcast flag
  request[kGiaddrOffset + 3] = 7;
  request[kSnameOffset] = 's';  // neither sname nor file is copied
  request[kFileOffset] = 'f';

  // The reply common to all three, written out field by field.
  const std::uint8_t header[] = {
      0x02,                    // op: boot reply
      0x01, 0x06, 0x00,        // htype, hlen as asked; hops 0
      0x56, 0xf3, 0xea, 0x22,  // xid
      0x00, 0x00,              // secs
      0x80, 0x00,              // flags, as asked
      0, 0, 0, 0,              // ciaddr
      0, 0, 0, 0,              // yiaddr
      0, 0, 0, 0,              // siaddr
      0, 0, 0, 7,              // giaddr, as asked
      0x02, 0x00, 0x5e, 0x10, 0x20, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // chaddr
  };
  const std::uint8_t cookie[] = {99, 130, 83, 99};
  std::vector<std::uint8_t> common(kOptionsOffset, 0);  // sname, file: empty
  std::copy(std::begin(header), std::end(header), common.begin());
  std::copy(std::begin(cookie), std::end(cookie), common.begin() + kCookieOffset);
  const std::vector<std::uint8_t> addressOptions = {
      54, 4, 192, 168, 1, 2,        // server identifier
      51, 4, 255, 255, 255, 255,    // lease: infinite
      1, 4, 255, 255, 255, 0,       // subnet mask
      3, 4, 192, 168, 1, 1,         // router
      255};
  auto expect = [&](std::uint8_t type, bool ciaddr, bool yiaddr,
                    std::vector<std::uint8_t> options) {
    std::vector<std::uint8_t> bytes = common;
    if (ciaddr) std::copy_n(fields.ciaddr, 4, bytes.begin() + kCiaddrOffset);
    if (yiaddr) std::copy_n(fields.ciaddr, 4, bytes.begin() + kYiaddrOffset);
    bytes.insert(bytes.end(), {53, 1, type});
    bytes.insert(bytes.end(), options.begin(), options.end());
    bytes.resize(kDhcpReplyLength, 0);
    return bytes;
  };

  const DhcpReplyFields offer{kDhcpOffer, Ip(192, 168, 1, 50), Ip(255, 255, 255, 0),
                              Ip(192, 168, 1, 1), Ip(192, 168, 1, 2)};
  std::array<std::uint8_t, kDhcpMaxReplyLength> reply{};
  reply.fill(0xEE);
  auto built = [&](DhcpReplyFields f) {
    const std::size_t length = BuildDhcpReply(request, f, reply);
    return std::vector<std::uint8_t>(reply.begin(), reply.begin() + static_cast<long>(length));
  };
  EXPECT_EQ(built(offer), expect(kDhcpOffer, false, true, addressOptions));
  DhcpReplyFields ack = offer;
  ack.messageType = kDhcpAck;
  EXPECT_EQ(built(ack), expect(kDhcpAck, true, true, addressOptions));
  DhcpReplyFields nak = offer;
  nak.messageType = kDhcpNak;
  EXPECT_EQ(built(nak), expect(kDhcpNak, false, false, {54, 4, 192, 168, 1, 2, 255}));
  // Without a gateway, no router option; the rest of the buffer is cleared.
  DhcpReplyFields noGateway = offer;
  noGateway.defaultGateway = 0;
  std::vector<std::uint8_t> withoutRouter = addressOptions;
  withoutRouter.erase(withoutRouter.end() - 7, withoutRouter.end() - 1);
  EXPECT_EQ(built(noGateway), expect(kDhcpOffer, false, true, withoutRouter));
  EXPECT_EQ(reply[kDhcpMaxReplyLength - 1], 0);
}

}  // namespace
}  // namespace quillnet
