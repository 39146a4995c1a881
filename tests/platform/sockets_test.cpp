// The operating system's sockets on the loopback interface: the behaviour the server relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "tests/platform/loopback_sockets.h"

namespace quillnet {
namespace {

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
    EXPECT_EQ(datagrams[i].interfaceIndex, LoopbackInterfaceIndex()) << i;
  }
}

TEST_F(LoopbackSockets, AReceiveBufferIsGrantedInTheTermsItWasAskedFor) {
  // Below every system's limit: granted as asked, not as the doubled size Linux reports.
  constexpr int kAsked = 64 * 1024;
  int granted = 0;
  ASSERT_EQ(api.SetReceiveBuffer(receiver, kAsked, granted), 0);
  EXPECT_EQ(granted, kAsked);
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
