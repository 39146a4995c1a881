#include "tests/platform/fake_packet_socket.h"

#include <algorithm>

#include "platform/winsock_errors.h"

namespace quillnet::testing {

int FakePacketSocketApi::Open(SocketHandle& socket) {
  std::lock_guard lock(m_mutex);
  ++m_opens;
  if (openError != 0) {
    socket = kInvalidSocket;
    return openError;
  }
  socket = m_nextHandle++;
  m_open.insert(socket);
  return 0;
}

int FakePacketSocketApi::HardwareAddress(int interfaceIndex, std::uint64_t& mac) {
  const auto found = macs.find(interfaceIndex);
  if (found == macs.end()) return kWsaEinval;
  mac = found->second;
  return 0;
}

int FakePacketSocketApi::SendFrame(SocketHandle socket, int interfaceIndex,
                                std::span<const std::uint8_t> frame) {
  Frame sentFrame{interfaceIndex, {frame.begin(), frame.end()}};
  std::function<void(const Frame&)> answer;
  {
    std::lock_guard lock(m_mutex);
    if (m_open.count(socket) == 0) return kWsaEbadf;
    if (auto found = sendErrorByInterface.find(interfaceIndex);
        found != sendErrorByInterface.end()) {
      return found->second;
    }
    m_sent.push_back(sentFrame);
    answer = onSend;
  }
  if (answer) answer(sentFrame);
  return 0;
}

int FakePacketSocketApi::ReceiveFrame(SocketHandle socket, std::span<std::uint8_t> buffer,
                                   std::size_t& received, int& interfaceIndex,
                                   std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  received = 0;
  interfaceIndex = 0;
  if (m_open.count(socket) == 0) return kWsaEbadf;
  if (!m_changed.wait_for(lock, timeout, [&] { return !m_incoming.empty(); })) return 0;
  Incoming next = std::move(m_incoming.front());
  m_incoming.pop_front();
  if (next.error != 0) return next.error;
  received = std::min(next.frame.bytes.size(), buffer.size());
  std::copy_n(next.frame.bytes.begin(), received, buffer.begin());
  interfaceIndex = next.frame.interfaceIndex;
  return 0;
}

void FakePacketSocketApi::Close(SocketHandle socket) {
  std::lock_guard lock(m_mutex);
  m_open.erase(socket);
}

int FakePacketSocketApi::OpenEcho(SocketHandle& socket) {
  std::lock_guard lock(m_mutex);
  if (echoOpenError != 0) {
    socket = kInvalidSocket;
    return echoOpenError;
  }
  socket = m_nextHandle++;
  m_open.insert(socket);
  return 0;
}

int FakePacketSocketApi::SendEcho(SocketHandle socket, std::uint32_t ip, std::uint16_t) {
  std::lock_guard lock(m_mutex);
  if (m_open.count(socket) == 0) return kWsaEbadf;
  if (echoSendError != 0) return echoSendError;
  m_echoes.push_back(ip);
  return 0;
}

int FakePacketSocketApi::ReceiveEcho(SocketHandle socket, std::uint32_t, bool& answered,
                                     std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  answered = false;
  if (m_open.count(socket) == 0) return kWsaEbadf;
  if (echoReceiveError != 0) return echoReceiveError;
  answered = m_changed.wait_for(lock, timeout, [&] {
    return echoAnsweredFrom > 0 && std::ssize(m_echoes) >= echoAnsweredFrom;
  });
  return 0;
}

std::vector<std::uint32_t> FakePacketSocketApi::echoes() const {
  std::lock_guard lock(m_mutex);
  return m_echoes;
}

void FakePacketSocketApi::Push(int interfaceIndex, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(m_mutex);
  m_incoming.push_back({0, {interfaceIndex, std::move(bytes)}});
  m_changed.notify_all();
}

void FakePacketSocketApi::PushError(int error) {
  std::lock_guard lock(m_mutex);
  m_incoming.push_back({error, {}});
  m_changed.notify_all();
}

std::vector<FakePacketSocketApi::Frame> FakePacketSocketApi::sent() const {
  std::lock_guard lock(m_mutex);
  return m_sent;
}

int FakePacketSocketApi::opens() const {
  std::lock_guard lock(m_mutex);
  return m_opens;
}

std::set<SocketHandle> FakePacketSocketApi::openSockets() const {
  std::lock_guard lock(m_mutex);
  return m_open;
}

}  // namespace quillnet::testing
