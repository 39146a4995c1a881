#pragma once

// The operating system's sockets on the loopback interface, one bound to a port of its own.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/ipv4_text.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet {

// The index of the loopback interface, as a datagram's arrival interface names it.
int LoopbackInterfaceIndex();

inline std::uint32_t Loopback() {
  std::uint32_t address = 0;
  EXPECT_TRUE(ReadIpv4Text("127.0.0.1", address));
  return address;
}

class LoopbackSockets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(api.Open(receiver), 0);
    // A port of our own: try a few from a random start, as tests run in parallel.
    const unsigned start = std::random_device{}();
    for (unsigned attempt = 0; attempt < 50; ++attempt) {
      port = static_cast<std::uint16_t>(20000 + (start + attempt * 131) % 40000);
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

}  // namespace quillnet
