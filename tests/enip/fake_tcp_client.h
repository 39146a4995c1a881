#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/tcp_client.h"

namespace quillnet::testing {

// A TCP client without a network: each Connect takes the next scripted result, and the bytes
// a device would send come from a script, handed out at most `chunk` at a time so that a
// reply arrives in pieces as it may over TCP.
class FakeTcpClient final : public TcpClient {
 public:
  std::deque<int> connectResults;  // empty: every connect succeeds
  int connectAfterScript = 0;
  std::vector<std::uint8_t> incoming;
  std::size_t chunk = 7;
  // When the script is used up: the peer closes (true) or stays silent until the deadline.
  bool closeAtEnd = false;

  std::vector<std::vector<std::uint8_t>> sent;
  int connects = 0;
  int closes = 0;

  int Connect(const TcpEndpoints& endpoints, const TcpLimits& limits,
              TcpHandle& handle) override {
    handle = kInvalidTcpHandle;
    if (limits.cancel != nullptr && limits.cancel->load()) return kWsaEintr;
    ++connects;
    lastEndpoints = endpoints;
    int result = connectAfterScript;
    if (!connectResults.empty()) {
      result = connectResults.front();
      connectResults.pop_front();
    }
    if (result == 0) handle = 3;
    return result;
  }

  int Send(TcpHandle, std::span<const std::uint8_t> data, const TcpLimits&) override {
    sent.emplace_back(data.begin(), data.end());
    return 0;
  }

  int Receive(TcpHandle, std::span<std::uint8_t> buffer, std::size_t& received,
              const TcpLimits& limits) override {
    received = 0;
    if (m_read == incoming.size()) {
      if (closeAtEnd) return 0;
      while (std::chrono::steady_clock::now() < limits.deadline) {
        if (limits.cancel != nullptr && limits.cancel->load()) return kWsaEintr;
      }
      return tcp_error::kTimedOut;
    }
    received = std::min({buffer.size(), chunk, incoming.size() - m_read});
    std::copy_n(incoming.begin() + static_cast<std::ptrdiff_t>(m_read), received, buffer.begin());
    m_read += received;
    return 0;
  }

  void Close(TcpHandle) override { ++closes; }

  TcpEndpoints lastEndpoints;

 private:
  std::size_t m_read = 0;
};

}  // namespace quillnet::testing
