// Where a reply goes and where it comes from: broadcast through every interface to a device
// on this PC's networks, unicast to the relay agent of one that asked through a relay.
#include "bootp/reply_sender.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bootp/answer_policy.h"
#include "platform/ipv4_text.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::FakeRouteSource;
using testing::FakeSocketApi;
using testing::Ip;

const std::uint32_t kRelay = Ip(10, 89, 0, 1);

// "from%interface > to:port", the server identifier of a DHCP copy after it.
std::string Describe(const FakeSocketApi::Sent& sent, bool dhcp) {
  std::string text = Ipv4Text(sent.from) + "%" + std::to_string(sent.interfaceIndex) + " > " +
                     Ipv4Text(sent.to) + ":" + std::to_string(sent.toPort);
  if (dhcp) text += " id " + Ipv4Text(ReadDhcpOptions(sent.bytes, sent.bytes.size()).serverId);
  return text;
}

TEST(ReplySender, SendsToTheDevicesNetworksOrToItsRelayOnly) {
  struct Case {
    const char* name;
    std::uint32_t giaddr;
    std::uint8_t type;
    std::map<std::uint32_t, std::uint32_t> sources;  // the routes toward a relay
    std::vector<std::string> copies;
    std::vector<std::string> names;
    bool reached;
    std::string failureStart;
  };
  const Case cases[] = {
      {"BOOTP on this PC's networks", 0, kBootpMessage, {},
       {"192.168.1.2%1 > 255.255.255.255:68", "10.1.0.2%2 > 255.255.255.255:68"},
       {"if1", "if2"}, true, ""},
      {"DHCP on this PC's networks", 0, kDhcpOffer, {},
       {"192.168.1.2%1 > 255.255.255.255:68 id 192.168.1.2",
        "10.1.0.2%2 > 255.255.255.255:68 id 10.1.0.2"},
       {"if1", "if2"}, true, ""},
      {"BOOTP through a relay", kRelay, kBootpMessage, {{kRelay, Ip(10, 1, 0, 2)}},
       {"10.1.0.2%0 > 10.89.0.1:67"}, {"if2"}, true, ""},
      {"DHCP through a relay", kRelay, kDhcpAck, {{kRelay, Ip(10, 1, 0, 2)}},
       {"10.1.0.2%0 > 10.89.0.1:67 id 10.1.0.2"}, {"if2"}, true, ""},
      {"a relay reached from an address without broadcast", kRelay, kDhcpOffer,
       {{kRelay, Ip(172, 16, 0, 2)}}, {"172.16.0.2%0 > 10.89.0.1:67 id 172.16.0.2"},
       {"172.16.0.2"}, true, ""},
      {"no route to the relay", kRelay, kDhcpOffer, {}, {}, {}, false,
       "The reply could not be sent to the relay agent 10.89.0.1, through which the device "
       "asked: this PC has no route to 10.89.0.1. Give it a route to the device's network "
       "through the router that relays its requests.\n"},
  };
  for (const Case& c : cases) {
    FakeSocketApi sockets;
    sockets.sourceToward = c.sources;
    FakeRouteSource routes;
    routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 1, 2), 1},
                   {0xFFFFFFFFu, 0xFFFFFFFFu, Ip(10, 1, 0, 2), 2},
                   {0xFFFFFFFFu, 0xFFFFFFFFu, Ip(127, 0, 0, 1), 0}};
    ReplySender sender(sockets, routes);
    std::vector<std::uint8_t> request = testing::Request{}.WithOptions({53, 1, kDhcpDiscover});
    request.resize(kMessageBufferSize);
    std::memcpy(&request[kGiaddrOffset], &c.giaddr, kAddressSize);
    PolicyAnswer answer;
    answer.kind = PolicyAnswer::Kind::kReply;
    answer.type = c.type;
    answer.addresses = {Ip(10, 89, 0, 50), Ip(255, 255, 255, 0), 0};
    std::array<std::uint8_t, kMessageBufferSize> reply{};
    const std::size_t length = WriteAnswer(request, answer, reply);
    const ReplySender::Outcome outcome = sender.Send(
        3, sender.QueryRoutes(), std::span(reply).first(length), c.type, c.giaddr == 0 ? 2 : 0);
    std::vector<std::string> copies;
    for (const auto& sent : sockets.sent()) copies.push_back(Describe(sent, c.type != 0));
    EXPECT_EQ(copies, c.copies) << c.name;
    EXPECT_EQ(outcome.interfaceNames, c.names) << c.name;
    EXPECT_EQ(outcome.reachedDevice, c.reached) << c.name;
    EXPECT_EQ(outcome.relay, c.giaddr) << c.name;
    EXPECT_EQ(outcome.message, c.failureStart) << c.name;
  }
}

}  // namespace
}  // namespace quillnet
