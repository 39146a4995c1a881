#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/winsock_errors.h"

namespace quillnet {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// One datagram of a batch receive: the buffer to fill, and what arrived in it.
struct ReceivedDatagram {
  std::span<std::uint8_t> buffer;
  std::size_t length = 0;
  // The index of the interface it arrived on, 0 when that is not known.
  int interfaceIndex = 0;
  // Longer than the buffer: its bytes must not be used.
  bool oversize = false;
};

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
  // Asks for a receive buffer of `bytes`: beyond the system's limit where this process may,
  // else up to that limit. `granted` receives the size granted, in the terms of `bytes`: the
  // request itself when nothing capped it.
  virtual int SetReceiveBuffer(SocketHandle socket, int bytes, int& granted) = 0;
  virtual int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) = 0;
  // Blocks until a datagram arrives, then takes the ones already waiting behind it too, one
  // per entry of `datagrams`; `count` receives how many entries were filled. After Shutdown
  // it returns at once with entries of 0 bytes.
  virtual int ReceiveMany(SocketHandle socket, std::span<ReceivedDatagram> datagrams,
                          std::size_t& count) = 0;
  // Sends `data` from the address `source` and the socket's own port out of the interface
  // with index `interfaceIndex` (0: wherever the routes lead).
  virtual int SendFrom(SocketHandle socket, std::span<const std::uint8_t> data,
                       std::uint32_t source, int interfaceIndex, std::uint32_t address,
                       std::uint16_t port) = 0;
  // The address of this host that the routes send from toward `address`:`port`, as a reply to
  // a relay agent leaves (no datagram is sent). A socket layer that cannot ask the routes
  // knows no route.
  virtual int SourceToward([[maybe_unused]] std::uint32_t address,
                           [[maybe_unused]] std::uint16_t port, std::uint32_t& source) {
    source = 0;
    return kWsaEnetunreach;
  }
  // Shuts the receive direction down, which wakes a receive blocked on the socket; sends still
  // go out, so the replies a stopping server still holds reach their devices.
  virtual void Shutdown(SocketHandle socket) = 0;
  virtual void Close(SocketHandle socket) = 0;
};

// The operating system's sockets.
SocketApi& SystemSocketApi();

// Whether net.core.rmem_max caps a socket's receive buffer, so that sysctl can raise it.
bool ReceiveBufferCappedBySysctl();

}  // namespace quillnet
