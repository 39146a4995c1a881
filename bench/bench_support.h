#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bootp/bootp_server.h"

namespace quillnet {

// Sockets that are never used: the table and the message functions need none.
class NoSockets final : public SocketApi {
 public:
  int Startup(std::uint16_t requested, std::uint16_t& granted) override {
    granted = requested;
    return 0;
  }
  int Open(SocketHandle&) override { return kWsaUnused; }
  int EnableBroadcast(SocketHandle) override { return kWsaUnused; }
  int Bind(SocketHandle, std::uint32_t, std::uint16_t) override { return kWsaUnused; }
  int SetReceiveBuffer(SocketHandle, int, int&) override { return kWsaUnused; }
  int ReceiveMany(SocketHandle, std::span<ReceivedDatagram>, std::size_t&) override {
    return kWsaUnused;
  }
  int SendFrom(SocketHandle, std::span<const std::uint8_t>, std::uint32_t, int, std::uint32_t,
               std::uint16_t) override {
    return kWsaUnused;
  }
  void Shutdown(SocketHandle) override {}
  void Close(SocketHandle) override {}

 private:
  static constexpr int kWsaUnused = 10045;
};

class NoRoutes final : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>&) override {
    return RouteQueryResult::kFailed;
  }
};

inline constexpr DeviceKey kFirstKey = 0x02005E000001;
// Spreads keys as real vendor MAC blocks do, without being sequential in the hash.
inline DeviceKey KeyOf(std::size_t i) { return kFirstKey + (static_cast<DeviceKey>(i) * 0x9E3779B1u % 0xFFFFFFu); }

inline std::unique_ptr<BootPServer> TableOf(std::size_t rows, NoSockets& sockets, NoRoutes& routes) {
  auto server = std::make_unique<BootPServer>(sockets, routes, [] { return std::int64_t{1}; });
  for (std::size_t i = 0; i < rows; ++i) server->RecordRequest(KeyOf(i), true);
  return server;
}

}  // namespace quillnet
