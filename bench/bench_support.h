#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bootp/bootp_server.h"
#include "bootp/request_table.h"

namespace quillnet {

class NoRoutes final : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>&) override {
    return RouteQueryResult::kFailed;
  }
};

inline constexpr DeviceKey kFirstKey = 0x02005E000001;
// Spreads keys as real vendor MAC blocks do, without being sequential in the hash.
inline DeviceKey KeyOf(std::size_t i) { return kFirstKey + (static_cast<DeviceKey>(i) * 0x9E3779B1u % 0xFFFFFFu); }

inline RequestTable TableOf(std::size_t rows) {
  RequestTable table;
  for (std::size_t i = 0; i < rows; ++i) table.Record(KeyOf(i), true, 1);
  return table;
}

// Sockets whose receives give a BOOTP request from each device handed to Ask, at once, and
// nothing when none waits; sends go nowhere.
class AskingSockets final : public SocketApi {
 public:
  int Startup(std::uint16_t requested, std::uint16_t& granted) override {
    granted = requested;
    return 0;
  }
  int Open(SocketHandle& socket) override {
    socket = 3;
    return 0;
  }
  int EnableBroadcast(SocketHandle) override { return 0; }
  int Bind(SocketHandle, std::uint32_t, std::uint16_t) override { return 0; }
  int SetReceiveBuffer(SocketHandle, int bytes, int& granted) override {
    granted = bytes;
    return 0;
  }
  int ReceiveMany(SocketHandle, std::span<ReceivedDatagram> datagrams,
                  std::size_t& count) override {
    count = std::min(datagrams.size(), m_asking.size() - m_taken);
    for (std::size_t i = 0; i < count; ++i) {
      std::span<std::uint8_t> buffer = datagrams[i].buffer;
      std::fill_n(buffer.begin(), kMinRequestLength, std::uint8_t{0});
      buffer[kOpOffset] = kOpBootRequest;
      buffer[kHtypeOffset] = 1;
      buffer[kHlenOffset] = kEthernetAddressLength;
      const DeviceKey key = m_asking[m_taken++];
      for (std::size_t b = 0; b < kMacSize; ++b) {
        buffer[kChaddrOffset + b] = static_cast<std::uint8_t>(key >> (40 - 8 * b));
      }
      datagrams[i].length = kMinRequestLength;
      datagrams[i].interfaceIndex = 1;
      datagrams[i].oversize = false;
    }
    if (m_taken == m_asking.size()) {
      m_asking.clear();
      m_taken = 0;
    }
    return 0;
  }
  int SendFrom(SocketHandle, std::span<const std::uint8_t>, std::uint32_t, int, std::uint32_t,
               std::uint16_t) override {
    return 0;
  }
  void Shutdown(SocketHandle) override {}
  void Close(SocketHandle) override {}

  void Ask(DeviceKey key) { m_asking.push_back(key); }

 private:
  std::vector<DeviceKey> m_asking;
  std::size_t m_taken = 0;
};

// A started server that has heard `rows` devices, as the Listen page reads one.
inline std::unique_ptr<BootPServer> ServerOf(std::size_t rows, AskingSockets& sockets,
                                             NoRoutes& routes) {
  auto server = std::make_unique<BootPServer>(sockets, routes, [] { return std::int64_t{1}; });
  server->Start();
  for (std::size_t i = 0; i < rows; ++i) {
    sockets.Ask(KeyOf(i));
    if ((i + 1) % BootPServer::kReceiveBatch == 0 || i + 1 == rows) {
      server->ServiceOneRequest();
    }
  }
  return server;
}

}  // namespace quillnet
