#include "tests/support/fake_platform.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/ipv4_text.h"
#include "platform/probe_rounds.h"
#include "platform/winsock_errors.h"

namespace quillnet::testing {

int FakeSocketApi::Startup(std::uint16_t, std::uint16_t& granted) {
  granted = grantedVersion;
  return startupError;
}

int FakeSocketApi::Open(SocketHandle& socket) {
  std::lock_guard lock(m_mutex);
  if (openError != 0) {
    socket = kInvalidSocket;
    return openError;
  }
  socket = m_nextHandle++;
  m_sockets[socket] = {};
  m_log.push_back("open " + std::to_string(socket));
  return 0;
}

int FakeSocketApi::EnableBroadcast(SocketHandle socket) {
  std::lock_guard lock(m_mutex);
  m_log.push_back("broadcast " + std::to_string(socket));
  return broadcastError;
}

int FakeSocketApi::Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  std::lock_guard lock(m_mutex);
  m_log.push_back("bind " + std::to_string(socket) + " " + Ipv4Text(address) + ":" +
                  std::to_string(port));
  if (address == 0 && ++m_anyBinds == failAnyBindNumber) return failAnyBindError;
  if (auto found = bindErrorByAddress.find(address); found != bindErrorByAddress.end()) {
    return found->second;
  }
  m_sockets[socket].address = address;
  m_sockets[socket].port = port;
  return 0;
}

int FakeSocketApi::SetReceiveBuffer(SocketHandle socket, int bytes, int& granted) {
  std::lock_guard lock(m_mutex);
  m_log.push_back("rcvbuf " + std::to_string(socket) + " " + std::to_string(bytes));
  granted = bytes;
  return 0;
}

int FakeSocketApi::ReceiveMany(SocketHandle socket, std::span<ReceivedDatagram> datagrams,
                               std::size_t& count) {
  std::unique_lock lock(m_mutex);
  ++m_receiveCalls;
  ++m_waiting;
  m_changed.notify_all();
  const auto gone = [&] {
    const auto found = m_sockets.find(socket);
    return found == m_sockets.end() || found->second.shutDown;
  };
  m_changed.wait(lock, [&] { return !m_incoming.empty() || gone(); });
  --m_waiting;
  count = 0;
  if (m_sockets.find(socket) == m_sockets.end()) return kWsaEbadf;
  if (m_incoming.empty()) {
    // Shut down: empty datagrams, as Linux gives.
    for (ReceivedDatagram& datagram : datagrams) datagram = {datagram.buffer};
    count = datagrams.size();
    return 0;
  }
  // An error ends a batch; it is the whole result of the call that meets it first.
  if (const int error = m_incoming.front().error; error != 0) {
    m_incoming.pop_front();
    return error;
  }
  while (count < datagrams.size() && !m_incoming.empty() && m_incoming.front().error == 0) {
    Incoming next = std::move(m_incoming.front());
    m_incoming.pop_front();
    ReceivedDatagram& datagram = datagrams[count++];
    datagram.oversize = next.bytes.size() > datagram.buffer.size();
    datagram.length = datagram.oversize ? 0 : next.bytes.size();
    if (!datagram.oversize) std::copy(next.bytes.begin(), next.bytes.end(), datagram.buffer.begin());
    datagram.interfaceIndex = next.interfaceIndex;
  }
  m_batches.push_back(count);
  return 0;
}

int FakeSocketApi::SendFrom(SocketHandle socket, std::span<const std::uint8_t> data,
                            std::uint32_t source, int interfaceIndex, std::uint32_t address,
                            std::uint16_t port) {
  std::lock_guard lock(m_mutex);
  const SocketState& state = m_sockets[socket];
  m_log.push_back("send " + std::to_string(socket) + " " + Ipv4Text(source) + "%" +
                  std::to_string(interfaceIndex) + " " + Ipv4Text(address) + ":" +
                  std::to_string(port));
  if (auto found = sendErrorByAddress.find(source); found != sendErrorByAddress.end()) {
    return found->second;
  }
  m_sent.push_back({source, state.port, address, port, {data.begin(), data.end()}, interfaceIndex});
  return 0;
}

int FakeSocketApi::SourceToward(std::uint32_t address, std::uint16_t, std::uint32_t& source) {
  std::lock_guard lock(m_mutex);
  const auto found = sourceToward.find(address);
  source = found != sourceToward.end() ? found->second : 0;
  return found != sourceToward.end() ? 0 : kWsaEnetunreach;
}

void FakeSocketApi::Shutdown(SocketHandle socket) {
  std::lock_guard lock(m_mutex);
  m_log.push_back("shutdown " + std::to_string(socket));
  m_sockets[socket].shutDown = true;
  m_changed.notify_all();
}

void FakeSocketApi::Close(SocketHandle socket) {
  std::lock_guard lock(m_mutex);
  m_log.push_back("close " + std::to_string(socket));
  m_sockets.erase(socket);
}

void FakeSocketApi::Push(std::vector<std::uint8_t> bytes, int interfaceIndex) {
  std::lock_guard lock(m_mutex);
  m_incoming.push_back({0, std::move(bytes), interfaceIndex});
  m_changed.notify_all();
}

void FakeSocketApi::PushError(int error) {
  std::lock_guard lock(m_mutex);
  m_incoming.push_back({error, {}});
  m_changed.notify_all();
}

std::vector<FakeSocketApi::Sent> FakeSocketApi::sent() const {
  std::lock_guard lock(m_mutex);
  return m_sent;
}

std::vector<std::string> FakeSocketApi::log() const {
  std::lock_guard lock(m_mutex);
  return m_log;
}

std::set<SocketHandle> FakeSocketApi::openSockets() const {
  std::lock_guard lock(m_mutex);
  std::set<SocketHandle> open;
  for (const auto& entry : m_sockets) open.insert(entry.first);
  return open;
}

std::vector<std::size_t> FakeSocketApi::batches() const {
  std::lock_guard lock(m_mutex);
  return m_batches;
}

int FakeSocketApi::receiveCalls() const {
  std::lock_guard lock(m_mutex);
  return m_receiveCalls;
}

int FakeSocketApi::receivesWaiting() const {
  std::lock_guard lock(m_mutex);
  return m_waiting;
}

bool FakeSocketApi::WaitForReceiver() const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_waiting > 0; });
}

RouteQueryResult GatedRouteSource::QueryRoutes(std::vector<RouteRow>& out) {
  std::unique_lock lock(m_mutex);
  if (++m_queries == 1) {
    out = m_rows;
    m_changed.notify_all();
    return RouteQueryResult::kOk;
  }
  ++m_waiting;
  m_changed.notify_all();
  m_changed.wait(lock, [&] { return m_released; });
  --m_waiting;
  out = m_rows;
  return RouteQueryResult::kOk;
}

bool GatedRouteSource::WaitForFirstQuery() const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_queries > 0; });
}

bool GatedRouteSource::WaitForQuery() const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_waiting > 0; });
}

void GatedRouteSource::Release() {
  std::lock_guard lock(m_mutex);
  m_released = true;
  m_changed.notify_all();
}

void FakeNeighbourCheck::AnswerProbes(std::map<std::uint32_t, DeviceKey> holders) {
  std::lock_guard lock(m_mutex);
  m_holders = std::move(holders);
}

void FakeNeighbourCheck::HoldAnswers(int count) {
  std::lock_guard lock(m_mutex);
  m_held = count;
}

void FakeNeighbourCheck::Refuse(int error, std::string reason) {
  std::lock_guard lock(m_mutex);
  m_refusal = ProbeFailed(error, std::move(reason));
}

void FakeNeighbourCheck::BreakOffNext(int error, std::string reason) {
  std::lock_guard lock(m_mutex);
  m_breakOff = ProbeFailed(error, std::move(reason), ProbeOutcome::kBrokeOff);
}

std::vector<FakeNeighbourCheck::Question> FakeNeighbourCheck::questions() const {
  std::lock_guard lock(m_mutex);
  return m_questions;
}

int FakeNeighbourCheck::running() const {
  std::lock_guard lock(m_mutex);
  return m_running;
}

ProbeResult FakeNeighbourCheck::WhoAnswers(const ProbeRequest& request) { return Run(request); }

ProbeResult FakeNeighbourCheck::AnswersEcho(const ProbeRequest& request) { return Run(request); }

ProbeResult FakeNeighbourCheck::Run(const ProbeRequest& request) {
  {
    std::lock_guard lock(m_mutex);
    if (m_refusal) return *m_refusal;
    ++m_running;
  }
  ProbeRounds rounds(request);
  std::optional<ProbeResult> result;
  for (bool first = true; !result && !rounds.Over(); std::this_thread::sleep_for(rounds.Wait())) {
    if (rounds.RoundDue()) {
      result = Ask(request, first);
      first = false;
    }
  }
  std::lock_guard lock(m_mutex);
  --m_running;
  return result.value_or(ProbeResult{});
}

std::optional<ProbeResult> FakeNeighbourCheck::Ask(const ProbeRequest& request, bool first) {
  std::lock_guard lock(m_mutex);
  m_questions.push_back({request.echo ? std::vector<int>{} : request.interfaces, request.ip,
                         request.echo});
  if (first && m_breakOff) return std::exchange(m_breakOff, std::nullopt);
  if (m_held > 0) {
    --m_held;
    return std::nullopt;
  }
  const auto found = m_holders.find(request.ip);
  if (found == m_holders.end()) return std::nullopt;
  if (request.echo) return ProbeAnswered(0);
  if (!HolderCounts(request, found->second, {})) return std::nullopt;
  return ProbeAnswered(found->second);
}

}  // namespace quillnet::testing
