#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bootp/bootp_server.h"
#include "platform/network_info.h"
#include "platform/socket_api.h"

namespace quillnet::testing {

// Sockets whose receive blocks until the socket is shut down, as a UDP receive does.
// `openError` makes every Open fail with that Winsock code.
class BlockingSockets : public SocketApi {
 public:
  int openError = 0;

  int Startup(std::uint16_t requested, std::uint16_t& granted) override {
    granted = requested;
    return 0;
  }
  int Open(SocketHandle& socket) override {
    if (openError != 0) return openError;
    socket = 3;
    return 0;
  }
  int EnableBroadcast(SocketHandle) override { return 0; }
  int Bind(SocketHandle, std::uint32_t, std::uint16_t) override { return 0; }
  int ReceiveFrom(SocketHandle, std::span<std::uint8_t>, std::size_t& received) override {
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_shutDown; });
    received = 0;
    return 0;
  }
  int SendTo(SocketHandle, std::span<const std::uint8_t>, std::uint32_t, std::uint16_t) override {
    return 0;
  }
  void Shutdown(SocketHandle) override {
    std::lock_guard lock(m_mutex);
    m_shutDown = true;
    m_changed.notify_all();
  }
  void Close(SocketHandle) override {}

  // Waits until a receive is blocked.
  void WaitForReceive() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting > 0; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_waiting = 0;
  bool m_shutDown = false;
};

class NoRoutes : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) override {
    rows.clear();
    return RouteQueryResult::kOk;
  }
};

class FixedAdapters : public AdapterSource {
 public:
  AdapterQueryResult result = AdapterQueryResult::kOk;
  std::vector<AdapterInfo> adapters;

  AdapterQueryResult QueryAdapters(std::vector<AdapterInfo>& out) override {
    out = adapters;
    return result;
  }
};

// A folder of its own under the system's temporary folder, removed again with the object.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("quillnet-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_path);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

}  // namespace quillnet::testing
