// The operating system's sockets on the loopback interface: the behaviour the server relies on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

std::uint32_t Loopback() {
  std::uint32_t address = 0;
  EXPECT_TRUE(ParseIpv4Text("127.0.0.1", address));
  return address;
}

class LoopbackSockets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(api.Open(receiver), 0);
    // A port of our own: try a few from a pid-based start.
    for (int attempt = 0; attempt < 50; ++attempt) {
      port = static_cast<std::uint16_t>(20000 + (getpid() * 7 + attempt * 131) % 40000);
      const int error = api.Bind(receiver, Loopback(), port);
      if (error == 0) return;
      ASSERT_EQ(error, kWsaEaddrinuse);
    }
    FAIL() << "no free port";
  }
  void TearDown() override {
    if (receiver != kInvalidSocket) api.Close(receiver);
  }

  int SendOf(std::size_t length) {
    SocketHandle sender = kInvalidSocket;
    EXPECT_EQ(api.Open(sender), 0);
    const std::vector<std::uint8_t> data(length, 0x5A);
    const int error = api.SendTo(sender, data, Loopback(), port);
    api.Close(sender);
    return error;
  }

  SocketApi& api = SystemSocketApi();
  SocketHandle receiver = kInvalidSocket;
  std::uint16_t port = 0;
};

TEST_F(LoopbackSockets, OversizeDatagramIsAReceiveFailure) {
  ASSERT_EQ(SendOf(1025), 0);
  ASSERT_EQ(SendOf(1024), 0);
  std::vector<std::uint8_t> buffer(1024);
  std::size_t received = 99;
  EXPECT_EQ(api.ReceiveFrom(receiver, buffer, received), kWsaEmsgsize);
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(api.ReceiveFrom(receiver, buffer, received), 0);
  EXPECT_EQ(received, 1024u);
}

TEST_F(LoopbackSockets, SecondBindWithoutReuseIsAddressInUse) {
  SocketHandle second = kInvalidSocket;
  ASSERT_EQ(api.Open(second), 0);
  EXPECT_EQ(api.Bind(second, Loopback(), port), kWsaEaddrinuse);
  EXPECT_EQ(api.EnableBroadcast(second), 0);
  api.Close(second);
}

TEST_F(LoopbackSockets, ShutdownWakesABlockedReceive) {
  std::size_t received = 99;
  int error = -1;
  std::atomic<bool> returned{false};
  std::thread blocked([&] {
    std::vector<std::uint8_t> buffer(1024);
    error = api.ReceiveFrom(receiver, buffer, received);
    returned = true;
  });
  // Shutdown only wakes a receive already blocked; repeat until it has returned.
  while (!returned) {
    api.Shutdown(receiver);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  blocked.join();
  EXPECT_EQ(error, 0);
  EXPECT_EQ(received, 0u);
}

TEST(WinsockErrors, MapsErrnoToWinsockCodes) {
  EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WinsockErrorFromErrno(EACCES), 10013);
  EXPECT_EQ(WinsockErrorFromErrno(EMSGSIZE), 10040);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinsockErrorFromErrno(EPERM), 10000 + EPERM);
}

TEST(Ipv4Text, ReadsWhatInetAddrReads) {
  std::uint32_t address = 0;
  EXPECT_TRUE(ParseIpv4Text("192.168.1.50", address));
  EXPECT_EQ(Ipv4Text(address), "192.168.1.50");
  EXPECT_TRUE(ParseIpv4Text("255.255.255.255", address));
  EXPECT_EQ(address, 0xFFFFFFFFu);
  EXPECT_TRUE(ParseIpv4Text("10.1", address));
  EXPECT_EQ(Ipv4Text(address), "10.0.0.1");
  address = 7;
  EXPECT_FALSE(ParseIpv4Text("", address));
  EXPECT_FALSE(ParseIpv4Text("192.168.1.", address));
  EXPECT_FALSE(ParseIpv4Text("256.1.1.1", address));
  EXPECT_EQ(address, 7u);
  EXPECT_EQ(Ipv4Text(Ipv4MaskFromPrefix(24)), "255.255.255.0");
  EXPECT_EQ(Ipv4Text(Ipv4MaskFromPrefix(0)), "0.0.0.0");
  EXPECT_EQ(Ipv4Text(Ipv4MaskFromPrefix(32)), "255.255.255.255");
  EXPECT_EQ(Ipv4Text(Ipv4MaskFromPrefix(1)), "128.0.0.0");
}

TEST(LocalTime, FormatsLocalClockTime) {
  // ctest runs this with TZ=UTC.
  EXPECT_EQ(FormatLocalTime(9 * 3600 + 5 * 60 + 7, "%H:%M:%S"), "09:05:07");
  EXPECT_EQ(FormatLocalTime(86399, "%H:%M:%S"), "23:59:59");
}

}  // namespace
}  // namespace quillnet
