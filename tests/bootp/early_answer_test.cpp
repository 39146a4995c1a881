// Arming answers a device that asked a moment ago at once, from the request the server kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bootp/bootp_server.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::FakeRouteSource;
using testing::FakeSocketApi;
using testing::Ip;
using testing::Request;

constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;
constexpr char kTarget[] = "02:00:5e:10:20:30";

// A valid request that uses more of the message than the fixed part: a boot file name, a
// vendor area and bytes past it, so a reply that loses any of them differs.
std::vector<std::uint8_t> FullRequest(std::uint32_t xid) {
  Request request;
  request.xid = xid;
  request.length = 420;
  std::vector<std::uint8_t> bytes = request.Bytes();
  const char file[] = "boot/device.img";
  std::copy(std::begin(file), std::end(file) - 1, bytes.begin() + kFileOffset);
  for (std::size_t i = kVendOffset; i < 400; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;  // bytes 400 to 419 stay zero
}

class EarlyAnswer : public ::testing::Test {
 protected:
  EarlyAnswer() {
    routes.rows = {{kBroadcast, kBroadcast, Ip(192, 168, 1, 20)},
                   {kBroadcast, kBroadcast, Ip(10, 0, 0, 5)},
                   {kBroadcast, kBroadcast, Ip(127, 0, 0, 1)}};
    EXPECT_TRUE(server.Start());
  }

  void Receive(std::vector<std::uint8_t> bytes, int interfaceIndex = 0) {
    sockets.Push(std::move(bytes), interfaceIndex);
    server.ServiceOneRequest();
    WaitForReplies();
  }
  void WaitForReplies() { ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5))); }
  bool Arm() { return server.Arm(kTarget, "192.168.1.50", "255.255.255.0", "192.168.1.1"); }
  // One pass of the worker that must not receive: another device's request ends it when
  // the pass does receive after all.
  void ServiceWithoutTarget() {
    Request other;
    other.mac = 0x02005E999999;
    Receive(other.Bytes());
  }

  FakeSocketApi sockets;
  FakeRouteSource routes;
  std::int64_t now = 1000;
  BootPServer server{sockets, routes, [this] { return now; }};
};

TEST_F(EarlyAnswer, IsTheReplyTheRequestWouldHaveHadAndLeavesTheServerArmed) {
  Receive(FullRequest(0xA1B2C3D4), 7);
  now += 10;
  ASSERT_TRUE(Arm());  // answers at once, receiving nothing
  WaitForReplies();

  const auto early = sockets.sent();
  ASSERT_EQ(early.size(), 2u);
  EXPECT_EQ(early[0].from, Ip(192, 168, 1, 20));
  EXPECT_EQ(early[1].from, Ip(10, 0, 0, 5));
  EXPECT_EQ(early[0].bytes, early[1].bytes);
  EXPECT_TRUE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
  EXPECT_EQ(server.GetCount(0), 1);  // nothing new was heard
  EXPECT_TRUE(server.IsRunning());

  // The same request arriving while armed gets the same bytes, then the server disarms.
  Receive(FullRequest(0xA1B2C3D4), 7);
  const auto all = sockets.sent();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[2].bytes, early[0].bytes);
  EXPECT_EQ(all[3].from, Ip(10, 0, 0, 5));
  EXPECT_EQ(all[2].bytes.size(), kMessageBufferSize);
  EXPECT_EQ(all[2].bytes[kOpOffset], kOpBootReply);
  EXPECT_FALSE(server.IsArmed());
  EXPECT_TRUE(server.WasReplySent());
}

TEST_F(EarlyAnswer, OnlyARecentValidLatestRequestIsAnswered) {
  struct Case {
    const char* name;
    std::int64_t age;
    bool laterInvalid;
    bool answered;
  };
  const Case cases[] = {
      {"just heard", 0, false, true},
      {"a minute ago", BootPServer::kEarlyAnswerSeconds, false, true},
      {"longer ago", BootPServer::kEarlyAnswerSeconds + 1, false, false},
      {"latest request not valid", 1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSocketApi caseSockets;
    std::int64_t clock = 5000;
    BootPServer caseServer(caseSockets, routes, [&] { return clock; });
    ASSERT_TRUE(caseServer.Start());
    caseSockets.Push(Request{}.Bytes());
    caseServer.ServiceOneRequest();
    if (c.laterInvalid) {
      Request invalid;
      invalid.ciaddr[0] = 10;
      caseSockets.Push(invalid.Bytes());
      caseServer.ServiceOneRequest();
    }
    clock += c.age;
    ASSERT_TRUE(caseServer.Arm(kTarget, "192.168.1.50", "255.255.255.0", ""));
    Request other;
    other.mac = 0x02005E999999;
    caseSockets.Push(other.Bytes());
    caseServer.ServiceOneRequest();
    ASSERT_TRUE(caseServer.WaitForReplies(std::chrono::seconds(5)));
    EXPECT_EQ(caseSockets.sent().size(), c.answered ? 2u : 0u);
    EXPECT_TRUE(caseServer.IsArmed());
    caseServer.Stop();
  }
}

TEST_F(EarlyAnswer, DisarmAfterItStopsFurtherAnswers) {
  Receive(Request{}.Bytes());
  // Disarmed between the early answer and the device's next request: only the early one.
  ASSERT_TRUE(Arm());
  WaitForReplies();
  EXPECT_EQ(sockets.sent().size(), 2u);
  server.Disarm();
  Receive(Request{}.Bytes());
  EXPECT_EQ(sockets.sent().size(), 2u);
  EXPECT_EQ(server.GetCount(0), 2);
}

TEST_F(EarlyAnswer, IsSentWhileTheWorkerWaitsInItsReceive) {
  Receive(Request{}.Bytes());
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) server.ServiceOneRequest();
  });
  ASSERT_TRUE(sockets.WaitForReceiver());
  ASSERT_TRUE(Arm());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (sockets.sent().size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(sockets.sent().size(), 2u);
  // The receive was not disturbed: the worker still waits in the same call, on the same
  // socket, for the device's next request.
  EXPECT_EQ(sockets.receiveCalls(), 2);
  EXPECT_EQ(sockets.receivesWaiting(), 1);
  EXPECT_EQ(sockets.openSockets(), std::set<SocketHandle>{3});
  EXPECT_TRUE(server.IsArmed());
  std::string message;
  server.GetMessageText(message);
  EXPECT_EQ(message, "");
  stop = true;
  server.Stop();
  worker.join();
  EXPECT_TRUE(sockets.openSockets().empty());
}

TEST_F(EarlyAnswer, OnlyTheDevicesHeardLastAreAnsweredAtOnceWhenTheBudgetIsSpent) {
  // Every device's request as long as a message can be, none of it zero.
  std::vector<std::uint8_t> bytes = FullRequest(1);
  bytes.resize(kMessageBufferSize, 0xEE);
  const DeviceKey first = 0x02005E000000;
  for (DeviceKey i = 0; i < BootPServer::kMaxRows; ++i) {
    for (std::size_t b = 0; b < kMacSize; ++b) {
      bytes[kChaddrOffset + b] = static_cast<std::uint8_t>((first + i) >> (40 - 8 * b));
    }
    sockets.Push(bytes, static_cast<int>(1 + i % 2));
    server.ServiceOneRequest();
  }
  // The devices heard last are still answered at once, the first ones at their next request.
  ASSERT_TRUE(server.Arm(FormatMacAddress(first), "10.0.0.9", "255.0.0.0", ""));
  ServiceWithoutTarget();
  EXPECT_TRUE(sockets.sent().empty());
  server.Disarm();
  ASSERT_TRUE(server.Arm(FormatMacAddress(first + BootPServer::kMaxRows - 1), "10.0.0.9",
                         "255.0.0.0", ""));
  WaitForReplies();
  EXPECT_EQ(sockets.sent().size(), 2u);
  EXPECT_THAT(server.GetHeardInterfaces(first + 1), ::testing::ElementsAre(2));
}

TEST(KeptRequests, StayWithinTheirBudgetAndLetOldOnesGo) {
  KeptRequests kept;
  std::vector<std::uint8_t> bytes(kMessageBufferSize, 0xEE);
  const std::size_t cost = bytes.size() + KeptRequests::kOverhead;
  std::int64_t now = 1000;
  for (DeviceKey key = 1; key <= 10000; ++key) {
    kept.Store(key, true, bytes, 1, kBootpMessage, now);
  }
  EXPECT_LE(kept.Bytes(), KeptRequests::kBudget);
  EXPECT_GT(kept.Bytes(), KeptRequests::kBudget - cost);
  EXPECT_EQ(kept.Recent(1, now), nullptr);  // heard longest ago: dropped first
  ASSERT_NE(kept.Recent(10000, now), nullptr);
  // Only the bytes up to the last non-zero one are kept.
  std::vector<std::uint8_t> shorter(kMessageBufferSize, 0);
  shorter[9] = 1;
  kept.Store(10000, true, shorter, 1, kBootpMessage, now);
  EXPECT_EQ(kept.Recent(10000, now)->bytes.size(), 10u);
  // A request that cannot be answered at once drops the device's earlier one.
  kept.Store(10000, false, bytes, 1, kDhcpRequest, now);
  EXPECT_EQ(kept.Recent(10000, now), nullptr);
  // Requests too old to answer are let go as soon as another one comes.
  EXPECT_EQ(kept.Recent(9999, now + KeptRequests::kEarlyAnswerSeconds + 1), nullptr);
  kept.Store(20000, false, bytes, 1, kBootpMessage, now + KeptRequests::kEarlyAnswerSeconds + 1);
  EXPECT_EQ(kept.Bytes(), 0u);
}

TEST_F(EarlyAnswer, HeardInterfacesAreTheLatestFirst) {
  for (const int index : {3, 5, 3, 0, 8, 9, 11}) Receive(Request{}.Bytes(), index);
  EXPECT_THAT(server.GetHeardInterfaces(ParseMacKey(kTarget)), ::testing::ElementsAre(11, 9, 8, 3));
  EXPECT_THAT(server.GetHeardInterfaces(0x02005e000001), ::testing::IsEmpty());
}

}  // namespace
}  // namespace quillnet
