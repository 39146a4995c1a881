// One thread services a stream of requests while another reads the table, arms and disarms,
// as the wizard's worker and its pages do. Run under ThreadSanitizer in CI.
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
  const std::size_t replies = sockets.sent().size();
  EXPECT_GT(replies, 0u);
  EXPECT_LE(replies, static_cast<std::size_t>(armed));
  EXPECT_TRUE(sockets.openSockets().empty());
}

}  // namespace
}  // namespace quillnet
