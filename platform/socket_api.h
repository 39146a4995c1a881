#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillnet {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// The few UDP socket calls the BOOTP server makes. Every call returns 0 on success or a
// Winsock-numbered error code (platform/winsock_errors.h). Addresses are IPv4 in network
// byte order, as they stand in a datagram; ports are in host order.
class SocketApi {
 public:
  virtual ~SocketApi() = default;

  // Starts the socket library, asking for `requestedVersion` (major in the low byte);
  // `grantedVersion` receives the version it offers.
  virtual int Startup(std::uint16_t requestedVersion, std::uint16_t& grantedVersion) = 0;
  // A new AF_INET datagram socket.
  virtual int Open(SocketHandle& socket) = 0;
  // SO_BROADCAST with a one-byte option value of 1.
  virtual int EnableBroadcast(SocketHandle socket) = 0;
  virtual int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) = 0;
  // Blocks until a datagram arrives. A datagram longer than `buffer` is reported as
  // kWsaEmsgsize and its bytes must not be used. `interfaceIndex` receives the index of the
  // interface it arrived on, 0 when that is not known.
  virtual int ReceiveFrom(SocketHandle socket, std::span<std::uint8_t> buffer,
                          std::size_t& received, int& interfaceIndex) = 0;
  virtual int SendTo(SocketHandle socket, std::span<const std::uint8_t> data,
                     std::uint32_t address, std::uint16_t port) = 0;
  // Shuts both directions down; wakes a receive blocked on the socket.
  virtual void Shutdown(SocketHandle socket) = 0;
  virtual void Close(SocketHandle socket) = 0;
};

// The operating system's sockets.
SocketApi& SystemSocketApi();

}  // namespace quillnet
