// The operating system's sockets on the loopback interface: the behaviour the server relies on.
#include <gtest/gtest.h>

#include <net/if.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
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
  EXPECT_TRUE(ReadIpv4Text("127.0.0.1", address));
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
    const int error = api.SendFrom(sender, data, Loopback(), 0, Loopback(), port);
    api.Close(sender);
    return error;
  }

  // One receive into `count` buffers of 1024 bytes.
  int Receive(std::size_t count, std::size_t& received) {
    buffers.assign(count * 1024, 0);
    datagrams.assign(count, {});
    for (std::size_t i = 0; i < count; ++i) {
      datagrams[i].buffer = std::span(buffers).subspan(i * 1024, 1024);
    }
    return api.ReceiveMany(receiver, datagrams, received);
  }

  SocketApi& api = SystemSocketApi();
  SocketHandle receiver = kInvalidSocket;
  std::uint16_t port = 0;
  std::vector<std::uint8_t> buffers;
  std::vector<ReceivedDatagram> datagrams;
};

TEST_F(LoopbackSockets, OneReceiveTakesEveryWaitingDatagramAndMarksAnOversizeOne) {
  int granted = 0;
  ASSERT_EQ(api.SetReceiveBuffer(receiver, 1 << 20, granted), 0);
  EXPECT_GT(granted, 0);
  ASSERT_EQ(SendOf(1025), 0);
  ASSERT_EQ(SendOf(1024), 0);
  ASSERT_EQ(SendOf(300), 0);
  std::size_t received = 0;
  ASSERT_EQ(Receive(8, received), 0);
  ASSERT_EQ(received, 3u);
  EXPECT_TRUE(datagrams[0].oversize);
  EXPECT_EQ(datagrams[0].length, 0u);
  EXPECT_FALSE(datagrams[1].oversize);
  EXPECT_EQ(datagrams[1].length, 1024u);
  EXPECT_EQ(datagrams[2].length, 300u);
  EXPECT_EQ(buffers[1024 + 1023], 0x5A);
  // Each datagram tells where it came in, so its sender can be reached there again.
  for (std::size_t i = 0; i < received; ++i) {
    EXPECT_EQ(datagrams[i].interfaceIndex, static_cast<int>(if_nametoindex("lo"))) << i;
  }
}

TEST_F(LoopbackSockets, SecondBindWithoutReuseIsAddressInUse) {
  SocketHandle second = kInvalidSocket;
  ASSERT_EQ(api.Open(second), 0);
  EXPECT_EQ(api.Bind(second, Loopback(), port), kWsaEaddrinuse);
  EXPECT_EQ(api.EnableBroadcast(second), 0);
  api.Close(second);
}

TEST_F(LoopbackSockets, ShutdownWakesABlockedReceive) {
  std::size_t received = 0;
  int error = -1;
  std::atomic<bool> returned{false};
  std::thread blocked([&] {
    error = Receive(4, received);
    returned = true;
  });
  // Shutdown only wakes a receive already blocked; repeat until it has returned.
  while (!returned) {
    api.Shutdown(receiver);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  blocked.join();
  EXPECT_EQ(error, 0);
  ASSERT_GE(received, 1u);
  for (std::size_t i = 0; i < received; ++i) EXPECT_EQ(datagrams[i].length, 0u) << i;
}

std::atomic<int> g_signalsHandled{0};
void CountSignal(int) { g_signalsHandled.fetch_add(1); }

// The system call a thread of this process is blocked in; -1 when it cannot be read.
long BlockedSystemCall(pid_t thread) {
  std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
  long number = -1;
  return file >> number ? number : -1;
}

TEST_F(LoopbackSockets, SignalDoesNotEndABlockedReceive) {
#ifndef SYS_recvmmsg
  GTEST_SKIP() << "recvmmsg is no system call of its own here";
#else
  // No SA_RESTART: the kernel ends the blocked recvmmsg with EINTR.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  std::atomic<pid_t> receiverThread{0};
  std::size_t received = 0;
  int error = -1;
  std::thread blocked([&] {
    receiverThread = gettid();
    error = Receive(1, received);
  });
  // Signal the thread once it is blocked in the receive, and wait for the handler to run.
  const int handledBefore = g_signalsHandled.load();
  bool signalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!signalled && receiverThread != 0 &&
        BlockedSystemCall(receiverThread) == SYS_recvmmsg) {
      ASSERT_EQ(pthread_kill(blocked.native_handle(), SIGUSR1), 0);
      signalled = true;
    }
    if (g_signalsHandled.load() > handledBefore) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool handled = g_signalsHandled.load() > handledBefore;
  // The datagram also ends the receive when the signal never came, so the thread is joined.
  EXPECT_EQ(SendOf(300), 0);
  blocked.join();
  sigaction(SIGUSR1, &previous, nullptr);

  ASSERT_TRUE(handled) << "the receiving thread was not seen blocked in recvmmsg";
  EXPECT_EQ(error, 0);
  ASSERT_EQ(received, 1u);
  EXPECT_EQ(datagrams[0].length, 300u);
#endif
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

TEST(Ipv4Text, ReadsFourDecimalNumbersAndNothingElse) {
  const struct {
    const char* text;
    const char* decimal;  // what it reads as; nullptr: refused
    bool refusedStrictly;  // refused where leading zeros are refused
  } cases[] = {
      {"192.168.1.50", "192.168.1.50", false},
      {"255.255.255.255", "255.255.255.255", false},
      {"0.0.0.0", "0.0.0.0", false},
      // inet_aton would read these as octal or hexadecimal: 10.77.0.48, nothing, 16.0.0.1.
      {"10.77.0.060", "10.77.0.60", true},
      {"192.168.1.08", "192.168.1.8", true},
      {"000.010.001.000", "0.10.1.0", true},
      {"0x10.0.0.1", nullptr, true},
      // The short forms, parts above 255 or of four digits, and anything around the numbers.
      {"10.1", nullptr, true},
      {"1.2.3", nullptr, true},
      {"1.2.3.4.5", nullptr, true},
      {"256.1.1.1", nullptr, true},
      {"1.2.3.0255", nullptr, true},
      {"192.168.1.", nullptr, true},
      {" 1.2.3.4", nullptr, true},
      {"1.2.3.4 ", nullptr, true},
      {"1..3.4", nullptr, true},
      {"1.-2.3.4", nullptr, true},
      {"", nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint32_t address = 7;
    ASSERT_EQ(ReadIpv4Text(c.text, address), c.decimal != nullptr);
    if (c.decimal != nullptr) {
      EXPECT_EQ(Ipv4Text(address), c.decimal);
    }
    EXPECT_EQ(NormalizedIpv4Text(c.text), c.decimal != nullptr ? c.decimal : c.text);
    EXPECT_EQ(ReadIpv4Text(c.text, address, LeadingZeros::kRefuse), !c.refusedStrictly);
  }
  // A NUL inside the text is not its end.
  std::uint32_t address = 0;
  EXPECT_FALSE(ReadIpv4Text(std::string("1.2.3.4\0junk", 12), address));
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
