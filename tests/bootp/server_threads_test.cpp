// One thread services a stream of requests while another reads the table, arms and disarms,
// as the wizard's worker and its pages do. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bootp/bootp_server.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::FakeRouteSource;
using testing::FakeSocketApi;
using testing::GatedRouteSource;
using testing::Ip;
using testing::Request;

TEST(ServerThreads, WorkerAndUserInterfaceShareTheServer) {
  constexpr int kDevices = 16;
  constexpr int kRequests = 4000;
  constexpr DeviceKey kFirstMac = 0x02005E100000;

  FakeSocketApi sockets;
  FakeRouteSource routes;
  routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 1, 20)}};
  BootPServer server(sockets, routes);
  ASSERT_TRUE(server.Start());

  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) server.ServiceOneRequest();
  });
  std::thread devices([&] {
    for (int i = 0; i < kRequests; ++i) {
      Request request;
      request.mac = kFirstMac + static_cast<DeviceKey>(i % kDevices);
      request.xid = static_cast<std::uint32_t>(i);
      sockets.Push(request.Bytes());
    }
  });

  // The user-interface side: read every row, arm for one device, disarm now and then.
  int armed = 0;
  int total = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (total < kRequests && std::chrono::steady_clock::now() < deadline) {
    total = 0;
    const int rows = server.GetRequestCount();
    for (int row = 0; row < rows; ++row) {
      EXPECT_EQ(server.GetMacText(row).size(), 17u);
      EXPECT_TRUE(server.IsValid(row));
      EXPECT_EQ(server.GetLastRequestTimeText(row).size(), 8u);
      total += server.GetCount(row);
    }
    if (server.Arm(FormatMacAddress(kFirstMac + 3), "192.168.1.50", "255.255.255.0", "")) {
      ++armed;
    } else if (armed % 5 == 0) {
      server.Disarm();
    }
    std::string message;
    server.GetMessageText(message);
    EXPECT_EQ(message, "");
  }
  devices.join();
  stop = true;
  server.Stop();
  worker.join();

  EXPECT_EQ(total, kRequests);  // no request lost, none counted twice
  EXPECT_EQ(server.GetRequestCount(), 0);  // stopped
  const auto sent = sockets.sent();
  EXPECT_GT(sent.size(), 0u);
  // Only the armed device is answered: at once from its kept request, then each request of its
  // until the arming ends.
  for (const auto& reply : sent) EXPECT_EQ(ReadDeviceKey(reply.bytes), kFirstMac + 3);
  EXPECT_LE(sent.size(), static_cast<std::size_t>(armed + kRequests / kDevices));
  EXPECT_TRUE(sockets.openSockets().empty());
}


// A reply is held inside its route query until the test releases it: on the worker, which
// sends the one reply of an idle server itself, or on the sender, which sends a burst.
class ReplyInProgress : public ::testing::Test {
 protected:
  static constexpr auto kPrompt = std::chrono::seconds(5);
  static constexpr char kTarget[] = "02:00:5e:10:20:30";

  struct TableView {
    int count = 0;
    std::string mac;
    bool armed = false;
    bool running = false;
  };

  ~ReplyInProgress() override {
    // Whatever the test did, let any stuck query finish before teardown.
    routes.Release();
  }

  // `requests` of the armed device in one receive: one is answered by the worker, more by the
  // sender, and the worker is free again.
  void BlockInReply(int requests = 1) {
    ASSERT_TRUE(server.Start());
    // The sender's first look at the routes passes; the reply's is held.
    ASSERT_TRUE(routes.WaitForFirstQuery());
    ASSERT_TRUE(server.Arm(kTarget, "192.168.1.50", "255.255.255.0", ""));
    for (int i = 0; i < requests; ++i) sockets.Push(Request{}.Bytes());
    calls.push_back(std::async(std::launch::async, [this] { server.ServiceOneRequest(); }));
    ASSERT_TRUE(routes.WaitForQuery());
    if (requests > 1) {
      ASSERT_EQ(calls.back().wait_for(kPrompt), std::future_status::ready);
    }
  }

  // Runs `call` on another thread; false when it has not returned in time. A call stuck
  // behind the reply finishes when the fixture releases it.
  bool ReturnsPromptly(std::function<void()> call) {
    calls.push_back(std::async(std::launch::async, std::move(call)));
    return calls.back().wait_for(kPrompt) == std::future_status::ready;
  }

  bool FinishReply() {
    routes.Release();
    return server.WaitForReplies(kPrompt);
  }

  FakeSocketApi sockets;
  GatedRouteSource routes{{{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 1, 20)},
                           {0xFFFFFFFFu, 0xFFFFFFFFu, Ip(10, 0, 0, 5)}}};
  BootPServer server{sockets, routes};
  // What the calls on other threads saw; members, so a late call never writes to a dead local.
  TableView view;
  bool answer = false;
  std::vector<std::future<void>> calls;
};

TEST_F(ReplyInProgress, RequestsAndQueriesDoNotWaitForTheReply) {
  ASSERT_NO_FATAL_FAILURE(BlockInReply(2));
  ASSERT_TRUE(ReturnsPromptly([this] {
    view = {server.GetRequestCount(), server.GetMacText(0), server.IsArmed(), server.IsRunning()};
  })) << "a table query waited for the reply";
  EXPECT_EQ(view.count, 1);
  EXPECT_EQ(view.mac, kTarget);
  EXPECT_TRUE(view.armed);  // until the answer has gone out
  EXPECT_TRUE(view.running);

  // Devices asking while the reply goes out are taken at once, in one receive.
  for (DeviceKey mac = 0x02005E000001; mac <= 0x02005E000020; ++mac) {
    Request other;
    other.mac = mac;
    sockets.Push(other.Bytes());
  }
  ASSERT_TRUE(ReturnsPromptly([this] { server.ServiceOneRequest(); }))
      << "a receive waited for the reply";
  EXPECT_EQ(server.GetRequestCount(), 33);
  EXPECT_EQ(sockets.batches().back(), 32u);

  ASSERT_TRUE(FinishReply());
  EXPECT_EQ(sockets.sent().size(), 4u);
  EXPECT_TRUE(server.WasReplySent());
  EXPECT_FALSE(server.IsArmed());
  // The listening socket was never closed, so nothing waiting on it was lost.
  EXPECT_EQ(sockets.openSockets(), std::set<SocketHandle>{3});
  const auto log = sockets.log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.starts_with("close"); }),
            0);
}

TEST_F(ReplyInProgress, DisarmDoesNotStopAReplyAlreadyBeingSent) {
  ASSERT_NO_FATAL_FAILURE(BlockInReply());
  ASSERT_TRUE(ReturnsPromptly([this] { answer = server.Disarm(); }));
  EXPECT_TRUE(answer);
  EXPECT_FALSE(server.IsArmed());
  ASSERT_TRUE(FinishReply());
  EXPECT_EQ(sockets.sent().size(), 2u);
  EXPECT_TRUE(server.WasReplySent());
  EXPECT_FALSE(server.IsArmed());
}

TEST_F(ReplyInProgress, ArmingMadeDuringTheReplyStaysArmed) {
  ASSERT_NO_FATAL_FAILURE(BlockInReply());
  ASSERT_TRUE(ReturnsPromptly([this] {
    answer = !server.Arm("00:1b:2c:3d:4e:5f", "10.0.0.9", "255.0.0.0", "") && server.Disarm() &&
             server.Arm("00:1b:2c:3d:4e:5f", "10.0.0.9", "255.0.0.0", "");
  }));
  ASSERT_TRUE(answer);  // refused while the answer was on its way, taken after Disarm
  ASSERT_TRUE(FinishReply());
  EXPECT_EQ(sockets.sent().size(), 2u);
  // The finished reply answered the earlier arming, not this one.
  EXPECT_TRUE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());
}

TEST_F(ReplyInProgress, ListedDeviceAnswerLeavesTheArmingAlone) {
  server.SetHosts({{kTarget, "192.168.1.70", "255.255.255.0", ""}});
  BootPServer::ReplyRecord reply;
  std::atomic<int> answers{0};
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& record) {
    // A handler that asks the server must not wait for the lock.
    server.GetLastReply(reply);
    ++answers;
    EXPECT_EQ(record.macText, kTarget);
  });
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(routes.WaitForFirstQuery());
  ASSERT_TRUE(server.Arm("00:1b:2c:3d:4e:5f", "10.0.0.9", "255.0.0.0", ""));
  sockets.Push(Request{}.Bytes());
  calls.push_back(std::async(std::launch::async, [this] { server.ServiceOneRequest(); }));
  ASSERT_TRUE(routes.WaitForQuery());
  ASSERT_TRUE(ReturnsPromptly([this] {
    BootPServer::ReplyRecord none;
    answer = !server.GetLastReply(none) && server.IsArmed();
  }));
  EXPECT_TRUE(answer);  // nothing recorded before the reply has gone out
  ASSERT_TRUE(FinishReply());
  EXPECT_EQ(answers, 1);
  EXPECT_EQ(reply.ipAddress, "192.168.1.70");
  EXPECT_FALSE(reply.armed);
  EXPECT_TRUE(server.IsArmed());
  EXPECT_FALSE(server.WasReplySent());
}

TEST_F(ReplyInProgress, StopSendsWhatWasHandedOverThenClosesTheSocketForGood) {
  server.SetHosts({{"02:00:5e:00:00:01", "192.168.1.71", "255.255.255.0", ""}});
  ASSERT_NO_FATAL_FAILURE(BlockInReply(2));
  // A listed device's reply waits behind the one being sent.
  Request listed;
  listed.mac = 0x02005E000001;
  sockets.Push(listed.Bytes());
  server.ServiceOneRequest();
  auto stopped = std::async(std::launch::async, [this] { server.Stop(); });
  EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_FALSE(server.IsRunning());
  routes.Release();
  ASSERT_EQ(stopped.wait_for(kPrompt), std::future_status::ready);
  ASSERT_EQ(sockets.sent().size(), 6u);
  EXPECT_EQ(sockets.sent()[5].bytes[kYiaddrOffset + 3], 71);
  EXPECT_FALSE(server.IsStarted());
  EXPECT_TRUE(sockets.openSockets().empty());
  const auto log = sockets.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "close 3"), 1);
  EXPECT_FALSE(server.Start());
  sockets.Push(Request{}.Bytes());  // so that a wrong receive returns instead of hanging
  server.ServiceOneRequest();
  EXPECT_EQ(sockets.log(), log);
  EXPECT_EQ(sockets.receiveCalls(), 2);  // the two before Stop
}

TEST(ServerThreads, AnIdleServerAnswersFromTheWorkerABurstFromTheSender) {
  FakeSocketApi sockets;
  FakeRouteSource routes;
  routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 1, 20), 1}};
  BootPServer server(sockets, routes);
  std::vector<std::string> listed;
  for (DeviceKey mac = 0x02005E000001; mac <= 0x02005E000003; ++mac) {
    listed.push_back(FormatMacAddress(mac));
  }
  server.SetHosts({{listed[0], "192.168.1.71", "255.255.255.0", ""},
                   {listed[1], "192.168.1.72", "255.255.255.0", ""},
                   {listed[2], "192.168.1.73", "255.255.255.0", ""}});
  std::mutex mutex;
  std::vector<std::thread::id> answeredOn;
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord&) {
    std::lock_guard lock(mutex);
    answeredOn.push_back(std::this_thread::get_id());
  });
  ASSERT_TRUE(server.Start());
  Request one;
  one.mac = 0x02005E000001;
  sockets.Push(one.Bytes());
  server.ServiceOneRequest();
  {
    // Sent before the receive step returned, by the thread that received it.
    std::lock_guard lock(mutex);
    ASSERT_EQ(answeredOn.size(), 1u);
    EXPECT_EQ(answeredOn[0], std::this_thread::get_id());
  }
  for (DeviceKey mac = 0x02005E000002; mac <= 0x02005E000003; ++mac) {
    Request burst;
    burst.mac = mac;
    sockets.Push(burst.Bytes());
  }
  server.ServiceOneRequest();
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  std::lock_guard lock(mutex);
  ASSERT_EQ(answeredOn.size(), 3u);
  EXPECT_NE(answeredOn[1], std::this_thread::get_id());
  EXPECT_EQ(answeredOn[2], answeredOn[1]);
  EXPECT_EQ(sockets.sent().size(), 3u);
}

}  // namespace
}  // namespace quillnet
