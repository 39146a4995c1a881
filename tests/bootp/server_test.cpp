#include "bootp/bootp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/ipv4_text.h"
#include "platform/winsock_errors.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::FakeRouteSource;
using testing::FakeSocketApi;
using testing::Ip;
using testing::Request;

constexpr char kAlreadyRunning[] =
    "Bootp Server Startup failed. There is already a Bootp Server running \n\t"
    "Please close your other Bootp Server and restart this tool.";
constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;
constexpr std::int64_t kNineFiveSeven = 9 * 3600 + 5 * 60 + 7;  // 09:05:07 UTC, 1970-01-01

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() {
    // Two interfaces with their limited-broadcast host routes, loopback's, and an ordinary route.
    routes.rows = {
        {kBroadcast, kBroadcast, Ip(192, 168, 1, 20)},
        {kBroadcast, kBroadcast, Ip(10, 0, 0, 5)},
        {kBroadcast, kBroadcast, Ip(127, 0, 0, 1)},
        {Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), Ip(192, 168, 1, 20)},
    };
  }

  std::string Message() const {
    std::string text;
    server.GetMessageText(text);
    return text;
  }

  // Queues a datagram, runs one pass of the receive step and waits for its reply, if any.
  void Receive(const Request& request, int interfaceIndex = 0) {
    sockets.Push(request.Bytes(), interfaceIndex);
    server.ServiceOneRequest();
    ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  }

  FakeSocketApi sockets;
  FakeRouteSource routes;
  std::int64_t now = kNineFiveSeven;
  BootPServer server{sockets, routes, [this] { return now; }};
};

TEST_F(ServerTest, StartsListeningOnPort67WithBroadcast) {
  EXPECT_FALSE(server.IsRunning());
  ASSERT_TRUE(server.Start());
  EXPECT_TRUE(server.IsStarted());
  EXPECT_TRUE(server.IsRunning());
  EXPECT_EQ(Message(), "");
  EXPECT_THAT(sockets.log(), ::testing::ElementsAre("open 3", "bind 3 0.0.0.0:67", "broadcast 3",
                                                    "rcvbuf 3 8388608"));
  // A second start leaves the listening socket, and any receive blocked on it, alone.
  EXPECT_TRUE(server.Start());
  EXPECT_EQ(sockets.log().size(), 4u);
}

TEST_F(ServerTest, StartFailuresSayWhyAndLeaveNoSocket) {
  struct Case {
    const char* name;
    void (*arrange)(FakeSocketApi&);
    std::string message;
    int code;
  };
  const Case cases[] = {
      {"port in use", [](FakeSocketApi& s) { s.bindErrorByAddress[0] = kWsaEaddrinuse; },
       kAlreadyRunning, kWsaEaddrinuse},
      {"bind refused", [](FakeSocketApi& s) { s.bindErrorByAddress[0] = kWsaEacces; },
       "bind BOOTPS port failed 10013 (0000271D)\n", kWsaEacces},
      {"broadcast refused", [](FakeSocketApi& s) { s.broadcastError = kWsaEinval; },
       "setsockopt broadcast BOOTPS port failed 10022 (00002726)\n", kWsaEinval},
      {"no socket", [](FakeSocketApi& s) { s.openError = kWsaEnobufs; },
       "server socket failed 10055 (00002747)\n", kWsaEnobufs},
      {"socket library too old", [](FakeSocketApi& s) { s.grantedVersion = 0x0101; },
       "server socket failed 10093 (0000276D)\n", kWsaNotInitialised},
  };
  for (const Case& c : cases) {
    FakeSocketApi failing;
    c.arrange(failing);
    BootPServer failed(failing, routes);
    EXPECT_FALSE(failed.Start()) << c.name;
    EXPECT_FALSE(failed.IsRunning()) << c.name;
    EXPECT_FALSE(failed.IsStarted()) << c.name;
    EXPECT_EQ(failed.GetRequestCount(), 0) << c.name;
    std::string text;
    failed.GetMessageText(text);
    EXPECT_EQ(text, c.message) << c.name;
    EXPECT_EQ(failed.GetStartError(), c.code) << c.name;
    EXPECT_TRUE(failing.openSockets().empty()) << c.name;
    // Nothing is received after a failed start.
    failed.ServiceOneRequest();
    EXPECT_EQ(failing.receiveCalls(), 0) << c.name;
  }
}

TEST_F(ServerTest, ReceiveStepRecordsAcceptedRequestsOnly) {
  server.ServiceOneRequest();  // not started: returns at once
  EXPECT_EQ(sockets.receiveCalls(), 0);
  ASSERT_TRUE(server.Start());

  Receive(Request{}.WithLength(299));
  Request reply;
  reply.op = 2;
  Receive(reply);
  EXPECT_FALSE(server.IsTableUpdated());
  EXPECT_EQ(server.GetRequestCount(), 0);
  EXPECT_EQ(Message(), "");

  sockets.PushError(kWsaEconnreset);
  server.ServiceOneRequest();
  EXPECT_EQ(Message(), "recvfrom failed 10054 (00002746)\n");
  sockets.PushError(kWsaEmsgsize);
  server.ServiceOneRequest();
  EXPECT_EQ(Message(), "recvfrom failed 10040 (00002738)\n");
  EXPECT_EQ(server.GetRequestCount(), 0);
  // Each is counted as it happens, an oversize datagram apart from the other failures,
  // whether the system marks it or fails the receive.
  Receive(Request{}.WithLength(kMessageBufferSize + 1));
  BootPServer::Notices notices = server.GetNotices();
  EXPECT_EQ(notices.oversizeDatagrams, 2u);
  EXPECT_EQ(notices.receiveFailures, 1u);
  EXPECT_EQ(notices.lastReceiveFailure, "recvfrom failed 10054 (00002746)\n");
  EXPECT_EQ(server.GetRequestCount(), 0);

  Receive(Request{});  // the next pass receives again
  EXPECT_EQ(server.GetRequestCount(), 1);
  EXPECT_TRUE(server.IsRunning());
}

TEST_F(ServerTest, TableKeepsFirstHeardOrderCountsAndValidity) {
  ASSERT_TRUE(server.Start());
  Request a;
  a.ciaddr[0] = 10;  // names an address: not valid
  Request b;
  b.mac = 0x001B2C3D4E5F;

  Receive(a);
  EXPECT_EQ(server.GetRequestCount(), 1);
  EXPECT_EQ(server.GetCount(0), 1);
  EXPECT_FALSE(server.IsValid(0));
  EXPECT_EQ(server.GetLastRequestTimeText(0), "09:05:07");

  Receive(Request{});  // valid
  EXPECT_EQ(server.GetCount(0), 2);
  EXPECT_TRUE(server.IsValid(0));

  now += 61;
  Request named;
  named.sname = "boot";
  Receive(named);  // not valid, and never clears validity
  EXPECT_EQ(server.GetCount(0), 3);
  EXPECT_TRUE(server.IsValid(0));
  EXPECT_EQ(server.GetLastRequestTimeText(0), "09:06:08");

  Receive(b);
  Receive(a);
  ASSERT_EQ(server.GetRequestCount(), 2);
  EXPECT_EQ(server.GetMacText(0), "02:00:5e:10:20:30");
  EXPECT_EQ(server.GetMacText(1), "00:1b:2c:3d:4e:5f");
  EXPECT_EQ(server.GetCount(0), 4);
  EXPECT_EQ(server.GetCount(1), 1);

  EXPECT_EQ(server.GetMacText(-1), "");
  EXPECT_EQ(server.GetMacText(2), "");
  EXPECT_EQ(server.GetCount(2), 0);
  EXPECT_FALSE(server.IsValid(-1));
  EXPECT_EQ(server.GetLastRequestTimeText(5), "");
}

TEST_F(ServerTest, ZeroMacAddressGetsNoRow) {
  ASSERT_TRUE(server.Start());
  Request zero;
  zero.mac = 0;
  Receive(zero);
  EXPECT_FALSE(server.IsTableUpdated());
  EXPECT_EQ(server.GetRequestCount(), 0);
}

TEST_F(ServerTest, ArmingHoldsOneTarget) {
  EXPECT_FALSE(server.Disarm());
  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", "192.168.1.1"));
  EXPECT_FALSE(server.Arm("00:1b:2c:3d:4e:5f", "10.0.0.9", "255.0.0.0", ""));
  EXPECT_TRUE(server.IsArmed());

  ASSERT_TRUE(server.Start());
  Request other;
  other.mac = 0x001B2C3D4E5F;
  Receive(other);  // recorded, not answered: the first target stays armed
  EXPECT_TRUE(server.IsArmed());
  EXPECT_TRUE(sockets.sent().empty());
  EXPECT_EQ(server.GetRequestCount(), 1);

  EXPECT_TRUE(server.Disarm());
  EXPECT_FALSE(server.IsArmed());
  Receive(Request{});
  EXPECT_TRUE(sockets.sent().empty());
}

TEST_F(ServerTest, AnswersTheTargetOutOfEveryInterface) {
  ASSERT_TRUE(server.Start());
  // Upper case without colons reads as the same device.
  ASSERT_TRUE(server.Arm("02005E102030", "192.168.1.50", "255.255.255.0", "192.168.1.1"));
  Request target;
  target.ciaddr[0] = 10;  // not valid, answered all the same
  target.xid = 0xCAFEF00D;
  Receive(target);

  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(server.GetCount(0), 1);  // counted before the answer
  EXPECT_FALSE(server.IsValid(0));

  const auto sent = sockets.sent();
  ASSERT_EQ(sent.size(), 2u);  // not through loopback, not through the ordinary route
  EXPECT_EQ(sent[0].from, Ip(192, 168, 1, 20));
  EXPECT_EQ(sent[1].from, Ip(10, 0, 0, 5));
  for (const auto& datagram : sent) {
    EXPECT_EQ(datagram.fromPort, 67);
    EXPECT_EQ(datagram.to, kBroadcast);
    EXPECT_EQ(datagram.toPort, 68);
    ASSERT_EQ(datagram.bytes.size(), kMessageBufferSize);
    EXPECT_EQ(datagram.bytes[kOpOffset], kOpBootReply);
    EXPECT_EQ(datagram.bytes[kXidOffset], 0xCA);
    EXPECT_EQ(datagram.bytes[kXidOffset + 3], 0x0D);
    EXPECT_EQ(datagram.bytes[kYiaddrOffset + 3], 50);
    EXPECT_EQ(datagram.bytes[kRouterOptionOffset + 5], 1);
    EXPECT_TRUE(std::all_of(datagram.bytes.begin() + kMinRequestLength, datagram.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }

  // Both copies leave through the listening socket, which stays open and bound to port 67.
  EXPECT_THAT(sockets.log(),
              ::testing::ElementsAre("open 3", "bind 3 0.0.0.0:67", "broadcast 3", "rcvbuf 3 8388608",
                                     "send 3 192.168.1.20%0 255.255.255.255:68",
                                     "send 3 10.0.0.5%0 255.255.255.255:68"));
  EXPECT_TRUE(server.IsRunning());
  BootPServer::ReplyRecord record;
  ASSERT_TRUE(server.GetLastReply(record));
  // Without interface indexes the interfaces are named by their addresses.
  EXPECT_EQ(record.interfaceNames, (std::vector<std::string>{"192.168.1.20", "10.0.0.5"}));

  // A new arming does not report the previous answer. (Late enough that the last request is
  // not answered at once.)
  now += BootPServer::kEarlyAnswerSeconds + 1;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.51", "255.255.255.0", ""));
  EXPECT_FALSE(server.WasReplySent());
}

TEST_F(ServerTest, ListedDevicesAreAnsweredWithTheirRowAndTheArmedDeviceWins) {
  constexpr DeviceKey kListed = 0x02005E0000AA;
  constexpr DeviceKey kArmed = 0x02005E102030;  // listed too, with other addresses
  std::vector<BootPServer::ReplyRecord> answers;
  std::vector<bool> armedAfter;
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    answers.push_back(reply);
    // Called without the server's lock: the handler may ask the server.
    armedAfter.push_back(server.IsArmed());
  });
  server.SetHosts({{"02:00:5e:00:00:aa", "192.168.1.61", "255.255.255.0", "192.168.1.1"},
                   {"02:00:5e:10:20:30", "192.168.1.62", "255.255.0.0", ""}});
  ASSERT_TRUE(server.Start());
  BootPServer::ReplyRecord last;
  EXPECT_FALSE(server.GetLastReply(last));
  ASSERT_TRUE(server.Arm(FormatMacAddress(kArmed), "192.168.1.50", "255.255.255.0", "192.168.1.1"));

  Request listed;
  listed.mac = kListed;
  Receive(listed);
  EXPECT_TRUE(server.IsArmed());  // a listed device's answer leaves the arming alone
  EXPECT_FALSE(server.WasReplySent());
  Request armed;
  armed.mac = kArmed;
  Receive(armed);
  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
  Receive(armed);  // asked again, as after a reboot: the armed addresses still
  server.Disarm();
  Receive(armed);  // now answered from its row
  Request unlisted;
  unlisted.mac = 0x02005E0000BB;
  Receive(unlisted);

  const auto sent = sockets.sent();
  ASSERT_EQ(sent.size(), 8u);  // four answers, each out of both interfaces
  EXPECT_EQ(ReadDeviceKey(sent[0].bytes), kListed);
  EXPECT_EQ(sent[0].bytes[kYiaddrOffset + 3], 61);
  EXPECT_EQ(sent[2].bytes[kYiaddrOffset + 3], 50);
  EXPECT_EQ(sent[4].bytes[kYiaddrOffset + 3], 50);
  EXPECT_EQ(sent[6].bytes[kYiaddrOffset + 3], 62);
  EXPECT_EQ(server.GetRequestCount(), 3);

  ASSERT_EQ(answers.size(), 4u);
  const struct {
    const char* mac;
    const char* ip;
    const char* mask;
    const char* gateway;
    bool armed;
    bool armedAfter;
  } expected[] = {
      {"02:00:5e:00:00:aa", "192.168.1.61", "255.255.255.0", "192.168.1.1", false, true},
      {"02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", "192.168.1.1", true, false},
      {"02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", "192.168.1.1", true, false},
      {"02:00:5e:10:20:30", "192.168.1.62", "255.255.0.0", "0.0.0.0", false, false},
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i].macText, expected[i].mac) << i;
    EXPECT_EQ(answers[i].ipAddress, expected[i].ip) << i;
    EXPECT_EQ(answers[i].subnetMask, expected[i].mask) << i;
    EXPECT_EQ(answers[i].defaultGateway, expected[i].gateway) << i;
    EXPECT_EQ(answers[i].interfaces, 2u) << i;
    EXPECT_EQ(answers[i].armed, expected[i].armed) << i;
    EXPECT_EQ(armedAfter[i], expected[i].armedAfter) << i;
    EXPECT_EQ(answers[i].time, kNineFiveSeven) << i;
  }
  ASSERT_TRUE(server.GetLastReply(last));
  EXPECT_EQ(last.ipAddress, "192.168.1.62");

  // A new list replaces the old one; a reply that no interface sent is recorded as such.
  server.SetHosts({{"02:00:5e:00:00:bb", "192.168.1.63", "255.255.255.0", ""}});
  sockets.sendErrorByAddress = {{Ip(192, 168, 1, 20), kWsaEnetunreach},
                                {Ip(10, 0, 0, 5), kWsaEnetunreach}};
  Receive(listed);
  Receive(unlisted);
  ASSERT_EQ(answers.size(), 5u);
  EXPECT_EQ(answers.back().macText, "02:00:5e:00:00:bb");
  EXPECT_EQ(answers.back().interfaces, 0u);
  EXPECT_EQ(Message(), "Sendto error 10051 (00002743)\n");
}

TEST_F(ServerTest, ARelayAddressThatNoRelayAgentHasIsDroppedAndCounted) {
  testing::FakeAdapterSource adapters;
  adapters.adapters = {{"pc0", {{"10.77.0.1", "255.255.255.0"}}, "0.0.0.0", 1},
                       {"pc1", {{"172.16.5.9", "255.255.0.0"}, {"10.99.0.2", "255.255.255.254"}},
                        "0.0.0.0", 2}};
  BootPServer guarded{sockets, routes, [this] { return now; }, &adapters};
  constexpr DeviceKey kListed = 0x02005E0000AA;
  guarded.SetHosts({{FormatMacAddress(kListed), "10.89.0.50", "255.255.255.0", ""}});
  sockets.sourceToward = {{Ip(10, 89, 0, 1), Ip(10, 77, 0, 1)},
                          {Ip(10, 99, 0, 3), Ip(10, 99, 0, 2)}};
  ASSERT_TRUE(guarded.Start());
  Request listed;
  listed.mac = kListed;
  const auto receive = [&](std::uint32_t giaddr) {
    std::vector<std::uint8_t> bytes = listed.Bytes();
    std::memcpy(&bytes[kGiaddrOffset], &giaddr, kAddressSize);
    sockets.Push(bytes, 1);
    guarded.ServiceOneRequest();
    ASSERT_TRUE(guarded.WaitForReplies(std::chrono::seconds(5)));
  };
  const struct {
    std::uint32_t giaddr;
    const char* why;
  } refused[] = {
      {Ip(10, 77, 0, 1), "this PC's own address"},
      {Ip(172, 16, 5, 9), "this PC's own address"},
      {Ip(127, 0, 0, 1), "a loopback address"},
      {Ip(127, 8, 0, 1), "a loopback address"},
      {Ip(224, 0, 0, 1), "a multicast address"},
      {Ip(255, 255, 255, 255), "the limited broadcast address"},
      {Ip(0, 1, 2, 3), "a reserved address, which no host has"},
      {Ip(240, 0, 0, 1), "a reserved address, which no host has"},
      {Ip(10, 77, 0, 0), "the network address of this PC's network 10.77.0.0/24"},
      {Ip(10, 77, 0, 255), "the broadcast address of this PC's network 10.77.0.0/24"},
      {Ip(172, 16, 255, 255), "the broadcast address of this PC's network 172.16.0.0/16"},
  };
  std::uint64_t count = 0;
  for (const auto& c : refused) {
    receive(c.giaddr);
    const BootPServer::Notices notices = guarded.GetNotices();
    EXPECT_EQ(notices.refusedRelays, ++count) << c.why;
    EXPECT_EQ(notices.lastRefusedWhy, c.why) << Ipv4Text(c.giaddr);
    EXPECT_EQ(notices.lastRefusedRelay, Ipv4Text(c.giaddr));
    EXPECT_EQ(notices.lastRefusedMac, "02:00:5e:00:00:aa");
  }
  EXPECT_TRUE(sockets.sent().empty());
  EXPECT_EQ(guarded.GetRequestCount(), 0);

  // A relay agent elsewhere, one on a /31 beside this PC, and no relay at all are answered.
  receive(Ip(10, 89, 0, 1));
  receive(Ip(10, 99, 0, 3));
  receive(0);
  const auto sent = sockets.sent();
  ASSERT_EQ(sent.size(), 4u);  // the last one broadcast out of both interfaces
  EXPECT_EQ(sent[0].to, Ip(10, 89, 0, 1));
  EXPECT_EQ(sent[1].to, Ip(10, 99, 0, 3));
  EXPECT_EQ(sent[2].to, kBroadcast);
  EXPECT_EQ(guarded.GetNotices().refusedRelays, count);
  EXPECT_EQ(guarded.GetRequestCount(), 1);
  guarded.Stop();
}

TEST_F(ServerTest, AFullTableSaysSoOnceAFurtherDeviceAsks) {
  ASSERT_TRUE(server.Start());
  constexpr DeviceKey kFirst = 0x02005E000000;
  server.SetHosts({{FormatMacAddress(kFirst + BootPServer::kMaxRows), "192.168.1.70",
                    "255.255.255.0", ""}});
  const auto from = [](DeviceKey mac) {
    Request request;
    request.mac = mac;
    return request;
  };
  for (DeviceKey i = 0; i < BootPServer::kMaxRows; ++i) {
    sockets.Push(from(kFirst + i).Bytes());
    if (i % BootPServer::kReceiveBatch == BootPServer::kReceiveBatch - 1) {
      server.ServiceOneRequest();
    }
  }
  EXPECT_EQ(server.GetRequestCount(), static_cast<int>(BootPServer::kMaxRows));
  EXPECT_FALSE(server.GetNotices().tableFull);
  // The one more device is not listed, and still answered from its row.
  Receive(from(kFirst + BootPServer::kMaxRows));
  const BootPServer::Notices notices = server.GetNotices();
  EXPECT_TRUE(notices.tableFull);
  EXPECT_EQ(notices.unrecordedRequests, 1u);
  EXPECT_EQ(server.GetRequestCount(), static_cast<int>(BootPServer::kMaxRows));
  EXPECT_EQ(sockets.sent().size(), 2u);
  // A device already listed is still counted.
  Receive(from(kFirst));
  EXPECT_EQ(server.GetCount(0), 2);
  EXPECT_EQ(server.GetNotices().unrecordedRequests, 1u);
}

TEST_F(ServerTest, ArmingTakesOnlyTextsThatReadAsTheyShow) {
  ASSERT_TRUE(server.Start());
  // No gateway goes out as 0.0.0.0.
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  ASSERT_FALSE(sockets.sent().empty());
  const auto bytes = sockets.sent()[0].bytes;
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(bytes[kRouterOptionOffset + 2 + i], 0) << i;

  // inet_aton would send these as other addresses, or as none.
  for (const char* ip : {"not an address", "10.1", "0x0a.0.0.1", "10.77.0.060 "}) {
    EXPECT_FALSE(server.Arm("02:00:5e:10:20:30", ip, "255.255.255.0", "")) << ip;
  }
  EXPECT_FALSE(server.Arm("02:00:5e:10:20:30", "10.77.0.5", "255.255.255.0", "10.77.0."));
  EXPECT_FALSE(server.IsArmed());
  // A leading zero is decimal: 060 goes out as 60, not as octal 48.
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "10.77.0.060", "255.255.255.000", "10.77.0.01"));
  Receive(Request{});
  const auto second = sockets.sent().back().bytes;
  EXPECT_EQ(std::vector<std::uint8_t>(second.begin() + kYiaddrOffset, second.begin() + kYiaddrOffset + 4),
            (std::vector<std::uint8_t>{10, 77, 0, 60}));
  EXPECT_EQ(second[kRouterOptionOffset + 5], 1);
}

TEST_F(ServerTest, AReplyCountsOnlyWhereTheDeviceAsked) {
  routes.rows = {{kBroadcast, kBroadcast, Ip(192, 168, 1, 20), 2},
                 {kBroadcast, kBroadcast, Ip(10, 0, 0, 5), 3}};
  ASSERT_TRUE(server.Start());
  // Asked on interface 3, whose send fails: interface 2's copy goes into another network.
  sockets.sendErrorByAddress[Ip(10, 0, 0, 5)] = 10065;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "10.0.0.50", "255.255.255.0", ""));
  Receive(Request{}, 3);
  EXPECT_FALSE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_EQ(Message(), "The reply could not be sent through if3, where the device asked: "
                       "Sendto error 10065 (00002751)\n");
  BootPServer::ReplyRecord record;
  ASSERT_TRUE(server.GetLastReply(record));
  EXPECT_EQ(record.interfaces, 1u);
  EXPECT_FALSE(record.reachedDevice);

  // Asked on interface 2: reached, though interface 3 failed. (Late enough that the last
  // request is not answered at once.)
  now += BootPServer::kEarlyAnswerSeconds + 1;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "10.0.0.50", "255.255.255.0", ""));
  Receive(Request{}, 2);
  EXPECT_TRUE(server.WasReplySent());
  ASSERT_TRUE(server.GetLastReply(record));
  EXPECT_TRUE(record.reachedDevice);
}

TEST_F(ServerTest, FailureOnOneInterfaceDoesNotStopTheOthers) {
  ASSERT_TRUE(server.Start());
  sockets.sendErrorByAddress[Ip(192, 168, 1, 20)] = kWsaEnetunreach;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
  ASSERT_EQ(sockets.sent().size(), 1u);
  EXPECT_EQ(sockets.sent()[0].from, Ip(10, 0, 0, 5));
  EXPECT_EQ(Message(), "Sendto error 10051 (00002743)\n");

  // Failing everywhere keeps the first failure.
  sockets.sendErrorByAddress[Ip(10, 0, 0, 5)] = kWsaEhostunreach;
  now += BootPServer::kEarlyAnswerSeconds + 1;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_FALSE(server.IsArmed());
  EXPECT_EQ(Message(), "Sendto error 10051 (00002743)\n");
  EXPECT_TRUE(server.IsRunning());
  EXPECT_EQ(sockets.openSockets(), std::set<SocketHandle>{3});
}

TEST_F(ServerTest, NoInterfaceMeansNotSent) {
  routes.rows = {{kBroadcast, kBroadcast, Ip(127, 0, 0, 1)},
                 {kBroadcast, Ip(255, 255, 255, 0), Ip(192, 168, 1, 20)}};
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  EXPECT_FALSE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_TRUE(sockets.sent().empty());
  EXPECT_THAT(Message(), HasSubstr("No network interface could send the reply"));
  EXPECT_TRUE(server.IsRunning());
}

TEST_F(ServerTest, RouteQueryFailureGoesToTheErrorHandlerAndSendsNothing) {
  routes.result = RouteQueryResult::kFailed;
  std::vector<std::pair<std::string, std::string>> reported;
  server.SetErrorHandler([&](const std::string& text, const std::string& caption) {
    // Called without the server's lock: the handler may ask the server.
    reported.emplace_back(text, caption + (server.IsArmed() ? " armed" : ""));
  });
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].first, "Insufficient buffer for GetIpForwardTable");
  EXPECT_EQ(reported[0].second, "Error before send");
  EXPECT_TRUE(sockets.sent().empty());
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_FALSE(server.IsArmed());
}

TEST_F(ServerTest, RouteFailuresWithoutAHandlerArePrinted) {
  // The sender's own first look at the routes, made at start whenever its thread runs,
  // answers nobody and says nothing; the reply's look says it once.
  routes.result = RouteQueryResult::kNoMemory;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(server.Start());
  for (int waited = 0; routes.queries == 0 && waited < 5000; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(routes.queries, 1) << "the sender's first look";
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  Receive(Request{});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error allocating memory\n");
  EXPECT_FALSE(server.WasReplySent());

  routes.result = RouteQueryResult::kFailed;
  now += BootPServer::kEarlyAnswerSeconds + 1;
  ASSERT_TRUE(server.Arm("02:00:5e:10:20:30", "192.168.1.50", "255.255.255.0", ""));
  ::testing::internal::CaptureStderr();
  Receive(Request{});
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("Insufficient buffer for GetIpForwardTable"));
  EXPECT_FALSE(server.WasReplySent());
  EXPECT_TRUE(sockets.sent().empty());
}

TEST_F(ServerTest, StopWakesABlockedReceiveAndIsFinal) {
  ASSERT_TRUE(server.Start());
  std::thread worker([&] { server.ServiceOneRequest(); });
  ASSERT_TRUE(sockets.WaitForReceiver());
  server.Stop();
  // A worker loop restarting a server that is not started must not bind port 67 again, nor
  // close the socket of a receive that may still be running.
  EXPECT_FALSE(server.Start());
  worker.join();
  EXPECT_FALSE(server.IsRunning());
  EXPECT_FALSE(server.IsStarted());
  EXPECT_EQ(Message(), "");  // an orderly stop is no receive failure
  EXPECT_TRUE(sockets.openSockets().empty());
  const auto log = sockets.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "close 3"), 1);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.starts_with("open"); }),
            1);
  EXPECT_FALSE(server.Start());
  EXPECT_FALSE(server.IsRunning());
  sockets.Push(Request{}.Bytes());  // so that a wrong receive returns instead of hanging
  server.ServiceOneRequest();       // stopped: returns at once
  EXPECT_EQ(sockets.receiveCalls(), 1);
  EXPECT_EQ(sockets.log(), log);
}

}  // namespace
}  // namespace quillnet
