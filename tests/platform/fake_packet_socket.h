#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/linux/packet_socket.h"

namespace quillnet::testing {

// Packet sockets whose received frames come from a queue, and whose interfaces have the MACs
// the test gives.
class FakePacketSocketApi final : public PacketSocketApi {
 public:
  struct Frame {
    int interfaceIndex = 0;
    std::vector<std::uint8_t> bytes;
  };

  int openError = 0;
  // The interfaces whose MAC can be read; any other index fails with kWsaEinval.
  std::map<int, std::uint64_t> macs;
  std::map<int, int> sendErrorByInterface;
  // Called, outside the lock, with every frame sent; it may push frames. Assign it before
  // anything sends.
  std::function<void(const Frame&)> onSend;

  int Open(SocketHandle& socket) override;
  int HardwareAddress(int interfaceIndex, std::uint64_t& mac) override;
  int SendFrame(SocketHandle socket, int interfaceIndex,
                std::span<const std::uint8_t> frame) override;
  // Gives the next queued frame or error, waiting for one at most `timeout`.
  int ReceiveFrame(SocketHandle socket, std::span<std::uint8_t> buffer, std::size_t& received,
                   int& interfaceIndex, std::chrono::milliseconds timeout) override;
  void Close(SocketHandle socket) override;

  // ICMP echo: every request is counted, and from the `echoAnsweredFrom`-th on (0: never) the
  // device answers.
  int echoOpenError = 0;
  int echoSendError = 0;
  int echoReceiveError = 0;
  int echoAnsweredFrom = 0;
  int OpenEcho(SocketHandle& socket) override;
  int SendEcho(SocketHandle socket, std::uint32_t ip, std::uint16_t sequence) override;
  // An answer that is due comes at once; otherwise it waits the whole `timeout`.
  int ReceiveEcho(SocketHandle socket, std::uint32_t ip, bool& answered,
                  std::chrono::milliseconds timeout) override;
  // The addresses the echo requests went to, in order.
  std::vector<std::uint32_t> echoes() const;

  void Push(int interfaceIndex, std::vector<std::uint8_t> bytes);
  void PushError(int error);

  std::vector<Frame> sent() const;
  int opens() const;
  std::set<SocketHandle> openSockets() const;

 private:
  struct Incoming {
    int error = 0;
    Frame frame;
  };
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Incoming> m_incoming;
  std::set<SocketHandle> m_open;
  SocketHandle m_nextHandle = 3;
  int m_opens = 0;
  std::vector<Frame> m_sent;
  std::vector<std::uint32_t> m_echoes;
};

}  // namespace quillnet::testing
