#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/winsock_errors.h"

namespace quillnet {

// Winsock's codes for the TCP failures that the UDP server never meets.
namespace tcp_error {
inline constexpr int kConnectionAborted = 10053;  // WSAECONNABORTED
inline constexpr int kNotConnected = 10057;       // WSAENOTCONN
inline constexpr int kTimedOut = 10060;           // WSAETIMEDOUT
}  // namespace tcp_error

using TcpHandle = std::intptr_t;
inline constexpr TcpHandle kInvalidTcpHandle = -1;

// How long a call may wait: until the deadline, or until `cancel` is set (then it fails with
// kWsaEintr). Every call that waits checks both.
struct TcpLimits {
  const std::atomic<bool>* cancel = nullptr;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Where a connection goes and where it leaves from. Addresses are IPv4 in network byte order,
// ports in host order.
struct TcpEndpoints {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  // The local address to connect from; 0: the one the routes choose.
  std::uint32_t source = 0;
  // The interface to leave by (its index); 0: wherever the routes lead.
  int interfaceIndex = 0;
};

// A TCP client's few calls, for explicit messages to a device. Every call returns 0 on success
// or a Winsock-numbered error code (platform/winsock_errors.h, tcp_error above): a refused
// connection is kWsaEconnrefused, a deadline passed tcp_error::kTimedOut.
class TcpClient {
 public:
  virtual ~TcpClient() = default;

  // Connects within `limits`. On failure `handle` is kInvalidTcpHandle and nothing is left open.
  virtual int Connect(const TcpEndpoints& endpoints, const TcpLimits& limits,
                      TcpHandle& handle) = 0;
  // Sends all of `data` within `limits`.
  virtual int Send(TcpHandle handle, std::span<const std::uint8_t> data,
                   const TcpLimits& limits) = 0;
  // Waits within `limits` for bytes and takes what has arrived, at most `buffer`'s size;
  // `received` is 0 when the peer has closed the connection.
  virtual int Receive(TcpHandle handle, std::span<std::uint8_t> buffer, std::size_t& received,
                      const TcpLimits& limits) = 0;
  virtual void Close(TcpHandle handle) = 0;
};

// The operating system's TCP sockets.
TcpClient& SystemTcpClient();

}  // namespace quillnet
