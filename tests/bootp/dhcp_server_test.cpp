// The server's dialogue with a DHCP device, from discover to ack, nak and decline.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bootp/bootp_server.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"
#include "wire/dhcp.h"

namespace quillnet {
namespace {

using testing::Dhcp;
using testing::Discover;
using testing::FakeRouteSource;
using testing::FakeSocketApi;
using testing::Ip;
using testing::Request;
using testing::RequestFor;

constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;
constexpr char kDeviceText[] = "02:00:5e:10:20:30";

class DhcpServer : public ::testing::Test {
 protected:
  DhcpServer() {
    routes.rows = {{kBroadcast, kBroadcast, Ip(192, 168, 1, 2), 4},
                   {kBroadcast, kBroadcast, Ip(10, 0, 0, 5), 5},
                   {kBroadcast, kBroadcast, Ip(127, 0, 0, 1)}};
    EXPECT_TRUE(server.Start());
    server.SetDeclineHandler([this](const BootPServer::DeclineRecord& d) {
      declines.push_back(d.macText + " " + d.ipAddress + (d.armed ? " armed" : " listed"));
    });
  }
  // The device's message arrives on interface 4; gives the replies it got, one per interface.
  std::vector<FakeSocketApi::Sent> Receive(std::vector<std::uint8_t> bytes) {
    const std::size_t before = sockets.sent().size();
    sockets.Push(std::move(bytes), 4);
    server.ServiceOneRequest();
    EXPECT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
    const auto sent = sockets.sent();
    return {sent.begin() + static_cast<long>(before), sent.end()};
  }
  bool Arm() { return server.Arm(kDeviceText, "192.168.1.50", "255.255.255.0", "192.168.1.1"); }
  static std::uint8_t TypeOf(const FakeSocketApi::Sent& sent) {
    return ReadDhcpOptions(sent.bytes, sent.bytes.size()).messageType;
  }

  FakeSocketApi sockets;
  FakeRouteSource routes;
  std::int64_t now = 1000;
  BootPServer server{sockets, routes, [this] { return now; }};
  std::vector<std::string> declines;
};

TEST_F(DhcpServer, ArmedDeviceIsOfferedAckedAndMayStillDecline) {
  ASSERT_TRUE(Arm());
  auto offers = Receive(Discover());
  ASSERT_EQ(offers.size(), 2u);
  for (const auto& offer : offers) {
    const DhcpOptions options = ReadDhcpOptions(offer.bytes, offer.bytes.size());
    EXPECT_EQ(options.messageType, kDhcpOffer);
    // Each copy names the interface it leaves through as the server.
    EXPECT_EQ(options.serverId, offer.from);
    EXPECT_EQ(options.subnetMask, Ip(255, 255, 255, 0));
    EXPECT_EQ(offer.bytes.size(), kDhcpReplyLength);
    EXPECT_EQ(offer.toPort, 68);
    EXPECT_EQ(offer.to, kBroadcast);
  }
  EXPECT_TRUE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());  // an offer is no answer yet

  // A stale address: a nak, so that the device starts over.
  auto nak = Receive(RequestFor({192, 168, 1, 77}));
  ASSERT_EQ(nak.size(), 2u);
  EXPECT_EQ(TypeOf(nak[0]), kDhcpNak);
  EXPECT_TRUE(server.IsArmed());

  // Releases and informs are recorded, never answered.
  EXPECT_TRUE(Receive(Dhcp({53, 1, kDhcpRelease})).empty());
  EXPECT_EQ(server.GetMessageType(0), kDhcpRelease);
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kNone);

  auto ack = Receive(RequestFor({192, 168, 1, 50}, {192, 168, 1, 2}));
  ASSERT_EQ(ack.size(), 2u);
  EXPECT_EQ(TypeOf(ack[0]), kDhcpAck);
  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kAccepted);
  BootPServer::ReplyRecord record;
  ASSERT_TRUE(server.GetLastReply(record));
  EXPECT_EQ(record.messageType, kDhcpAck);
  EXPECT_EQ(record.ipAddress, "192.168.1.50");
  EXPECT_EQ(record.defaultGateway, "192.168.1.1");
  EXPECT_EQ(server.GetRequestCount(), 1);
  EXPECT_EQ(server.GetCount(0), 4);

  // The device found the address in use after all.
  EXPECT_TRUE(Receive(Dhcp({53, 1, kDhcpDecline, 50, 4, 192, 168, 1, 50})).empty());
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kDeclined);
  std::string message;
  server.GetMessageText(message);
  EXPECT_EQ(message, "The device 02:00:5e:10:20:30 reports 192.168.1.50 as in use by another "
                     "device. Give it another address.");
  EXPECT_EQ(declines, std::vector<std::string>{"02:00:5e:10:20:30 192.168.1.50 armed"});
  // Once the page has let go, a decline no longer counts.
  server.Disarm();
  Receive(Dhcp({53, 1, kDhcpDecline}));
  EXPECT_EQ(declines.size(), 1u);
}

TEST_F(DhcpServer, RenewingAndRebootingDevicesAreAckedByAddress) {
  ASSERT_TRUE(Arm());
  Request renewing;
  renewing.ciaddr[0] = 192;
  renewing.ciaddr[1] = 168;
  renewing.ciaddr[2] = 1;
  renewing.ciaddr[3] = 50;
  auto ack = Receive(Dhcp({53, 1, kDhcpRequest}, renewing));
  ASSERT_EQ(ack.size(), 2u);
  EXPECT_EQ(TypeOf(ack[0]), kDhcpAck);
  EXPECT_EQ(ack[0].bytes[kCiaddrOffset], 192);

  ASSERT_TRUE(Arm());
  auto reboot = Receive(RequestFor({192, 168, 1, 50}));  // no server named
  ASSERT_EQ(reboot.size(), 2u);
  EXPECT_EQ(TypeOf(reboot[0]), kDhcpAck);

  // A decline before the ack ends the arming too.
  ASSERT_TRUE(Arm());
  Receive(Dhcp({53, 1, kDhcpDecline, 50, 4, 192, 168, 1, 50}));
  EXPECT_FALSE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kDeclined);

  // So does taking another server's offer: the device will not ask again.
  ASSERT_TRUE(Arm());
  EXPECT_TRUE(Receive(RequestFor({192, 168, 1, 50}, {192, 168, 1, 254})).empty());
  EXPECT_FALSE(server.IsArmed());
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kOtherServer);
  std::string message;
  server.GetMessageText(message);
  EXPECT_NE(message.find("another DHCP server, 192.168.1.254."), std::string::npos) << message;
}

// A device that reboots while it is being checked asks again, and is given the same address
// until the assignment ends; its decline ends that, and says so until a new assignment.
TEST_F(DhcpServer, AfterItsAckTheDeviceIsAnsweredAgainUntilItDeclinesOrTheArmingEnds) {
  std::vector<std::string> log;
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    log.push_back(MessageTypeText(reply.messageType));
  });
  server.SetDeclineHandler([&](const BootPServer::DeclineRecord& decline) {
    log.push_back("decline " + decline.ipAddress);
  });
  ASSERT_TRUE(Arm());
  ASSERT_EQ(TypeOf(Receive(RequestFor({192, 168, 1, 50}))[0]), kDhcpAck);
  EXPECT_FALSE(server.IsArmed());
  EXPECT_EQ(TypeOf(Receive(Discover())[0]), kDhcpOffer);
  const auto again = Receive(RequestFor({192, 168, 1, 50}, {192, 168, 1, 2}));
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(TypeOf(again[0]), kDhcpAck);
  EXPECT_EQ(ReadReplyAddresses(again[0].bytes).ipAddress, Ip(192, 168, 1, 50));
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kAccepted);

  // Its ack and its decline taken in one receive: the ack is reported first, as it went out
  // before the device could decline.
  log.clear();
  sockets.Push(RequestFor({192, 168, 1, 50}), 4);
  sockets.Push(Dhcp({53, 1, kDhcpDecline, 50, 4, 192, 168, 1, 50}), 4);
  server.ServiceOneRequest();
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  EXPECT_EQ(log, (std::vector<std::string>{"DHCPACK", "decline 192.168.1.50"}));
  EXPECT_EQ(server.GetDeviceVerdict(), BootPServer::DeviceVerdict::kDeclined);
  EXPECT_TRUE(Receive(Discover()).empty());
  std::string message;
  server.GetMessageText(message);
  EXPECT_NE(message.find("as in use by another device"), std::string::npos) << message;

  // That text belongs to the assignment: the user starting over, or a new arming, forgets it.
  server.ClearAssignmentMessage();
  server.GetMessageText(message);
  EXPECT_EQ(message, "");
  server.Disarm();
  ASSERT_TRUE(Arm());
  Receive(Dhcp({53, 1, kDhcpDecline, 50, 4, 192, 168, 1, 50}));
  ASSERT_TRUE(Arm());
  server.GetMessageText(message);
  EXPECT_EQ(message, "");
  // After Disarm the device is only recorded.
  server.Disarm();
  EXPECT_TRUE(Receive(RequestFor({192, 168, 1, 50})).empty());
}

TEST_F(DhcpServer, ArmingAfterADiscoverOffersAtOnceButNeverAcksAStaleRequest) {
  Receive(Discover());
  now += 30;
  ASSERT_TRUE(Arm());
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  auto sent = sockets.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(TypeOf(sent[0]), kDhcpOffer);
  EXPECT_TRUE(server.IsArmed());

  // A request for the address heard before the arming is not answered by it.
  server.Disarm();
  Receive(RequestFor({192, 168, 1, 50}));
  ASSERT_TRUE(Arm());
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  EXPECT_EQ(sockets.sent().size(), 2u);
  EXPECT_TRUE(server.IsArmed());
}

}  // namespace
}  // namespace quillnet
