#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/net_helper.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet {

// The sockets Linux's neighbour check asks through: an AF_PACKET socket for ARP frames, an ICMP
// socket for echo requests, and quillnet-net-helper, which opens them for a program the kernel
// refuses them. Every call returns 0 on success or a Winsock-numbered error code
// (platform/winsock_errors.h). Interfaces are kernel interface indexes; a MAC address is held
// in the low 48 bits of a std::uint64_t, its first byte most significant.
class PacketSocketApi {
 public:
  virtual ~PacketSocketApi() = default;
  // One AF_PACKET socket (SOCK_RAW, ETH_P_ARP, not bound to an interface) that sees the ARP
  // frames of every interface. Needs CAP_NET_RAW.
  virtual int Open(SocketHandle& socket) = 0;
  virtual int HardwareAddress(int interfaceIndex, std::uint64_t& mac) = 0;
  // Sends a whole Ethernet frame, header included, out of the interface.
  virtual int SendFrame(SocketHandle socket, int interfaceIndex,
                        std::span<const std::uint8_t> frame) = 0;
  // Waits at most `timeout` for one frame; returns 0 with received == 0 when none came.
  // interfaceIndex: where it arrived. Frames this host sends are not reported. A frame longer
  // than `buffer` is cut to its size (padding past an ARP packet carries nothing).
  virtual int ReceiveFrame(SocketHandle socket, std::span<std::uint8_t> buffer,
                           std::size_t& received, int& interfaceIndex,
                           std::chrono::milliseconds timeout) = 0;
  virtual void Close(SocketHandle socket) = 0;
  // For a program refused the packet socket: probes for `ip` sent by quillnet-net-helper,
  // which holds CAP_NET_RAW. Null with `failure` filled when the helper cannot probe; null
  // with no failure where there is no helper to ask.
  virtual std::unique_ptr<NetHelperClaims> StartHelperProbes(
      [[maybe_unused]] const std::vector<int>& interfaces, [[maybe_unused]] std::uint32_t ip,
      [[maybe_unused]] std::chrono::milliseconds duration,
      [[maybe_unused]] std::chrono::milliseconds interval, NetHelperFailure& failure) {
    failure = {};
    return nullptr;
  }

  // ICMP echo, where ARP cannot reach (a device behind a router). A socket that sends echo
  // requests and hears their replies; a system without one refuses (kWsaEopnotsupp).
  virtual int OpenEcho(SocketHandle& socket) {
    socket = kInvalidSocket;
    return kWsaEopnotsupp;
  }
  virtual int SendEcho([[maybe_unused]] SocketHandle socket, [[maybe_unused]] std::uint32_t ip,
                       [[maybe_unused]] std::uint16_t sequence) {
    return kWsaEopnotsupp;
  }
  // Waits at most `timeout` for a reply from `ip` to the socket's requests.
  virtual int ReceiveEcho([[maybe_unused]] SocketHandle socket, [[maybe_unused]] std::uint32_t ip,
                          bool& answered, [[maybe_unused]] std::chrono::milliseconds timeout) {
    answered = false;
    return kWsaEopnotsupp;
  }
  // For a program refused the echo socket: echo requests sent by quillnet-net-helper, as
  // StartHelperProbes.
  virtual std::unique_ptr<NetHelperClaims> StartHelperEcho(
      [[maybe_unused]] std::uint32_t ip, [[maybe_unused]] std::chrono::milliseconds duration,
      [[maybe_unused]] std::chrono::milliseconds interval, NetHelperFailure& failure) {
    failure = {};
    return nullptr;
  }
};

// The kernel's packet and ICMP sockets, and the helper.
PacketSocketApi& SystemPacketSocketApi();

}  // namespace quillnet
