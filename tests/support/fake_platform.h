#pragma once

// Fakes behind the platform interfaces: sockets whose calls fail with a chosen Winsock code
// and whose receives come from a queue, a route table given by the test, and the neighbours
// it describes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/neighbour_check.h"
#include "platform/network_info.h"
#include "platform/socket_api.h"
#include "tests/support/requests.h"

namespace quillnet::testing {

class FakeSocketApi final : public SocketApi {
 public:
  struct Sent {
    std::uint32_t from = 0;  // the source address the send named
    std::uint16_t fromPort = 0;  // the sending socket's port
    std::uint32_t to = 0;
    std::uint16_t toPort = 0;
    std::vector<std::uint8_t> bytes;
    int interfaceIndex = 0;  // the interface the send named
  };
  struct Incoming {
    int error = 0;
    std::vector<std::uint8_t> bytes;
    int interfaceIndex = 0;
  };

  // Failures to give, by call. A bind failure is keyed by the address bound to.
  std::uint16_t grantedVersion = 0x0202;
  int startupError = 0;
  int openError = 0;
  int broadcastError = 0;
  std::map<std::uint32_t, int> bindErrorByAddress;
  std::map<std::uint32_t, int> sendErrorByAddress;  // by source address
  // The source this host's routes give toward a destination; one not listed has no route
  // (kWsaEnetunreach).
  std::map<std::uint32_t, std::uint32_t> sourceToward;
  // Fail only the n-th bind to 0.0.0.0 (1-based); 0 fails none.
  int failAnyBindNumber = 0;
  int failAnyBindError = 0;

  int Startup(std::uint16_t requestedVersion, std::uint16_t& granted) override;
  int Open(SocketHandle& socket) override;
  int EnableBroadcast(SocketHandle socket) override;
  int SetReceiveBuffer(SocketHandle socket, int bytes, int& granted) override;
  int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) override;
  // Blocks until a datagram is queued or the socket is shut down (then empty datagrams, as
  // Linux), then takes the queued datagrams up to the first error.
  int ReceiveMany(SocketHandle socket, std::span<ReceivedDatagram> datagrams,
                  std::size_t& count) override;
  int SendFrom(SocketHandle socket, std::span<const std::uint8_t> data, std::uint32_t source,
               int interfaceIndex, std::uint32_t address, std::uint16_t port) override;
  int SourceToward(std::uint32_t address, std::uint16_t port, std::uint32_t& source) override;
  void Shutdown(SocketHandle socket) override;
  void Close(SocketHandle socket) override;

  // A datagram arriving on the interface with that index.
  void Push(std::vector<std::uint8_t> bytes, int interfaceIndex = 0);
  void PushError(int error);

  std::vector<Sent> sent() const;
  std::vector<std::string> log() const;  // "open 3", "bind 3 0.0.0.0:67", "close 3" ...
  std::set<SocketHandle> openSockets() const;
  int receiveCalls() const;
  // The number of datagrams each receive that gave any took.
  std::vector<std::size_t> batches() const;
  int receivesWaiting() const;
  // Waits until a receive is blocked in ReceiveFrom; false after about five seconds.
  bool WaitForReceiver() const;

 private:
  struct SocketState {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool shutDown = false;
  };
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::deque<Incoming> m_incoming;
  std::map<SocketHandle, SocketState> m_sockets;
  SocketHandle m_nextHandle = 3;
  int m_anyBinds = 0;
  int m_receiveCalls = 0;
  std::vector<std::size_t> m_batches;
  int m_waiting = 0;
  std::vector<Sent> m_sent;
  std::vector<std::string> m_log;
};

class FakeRouteSource final : public RouteSource {
 public:
  // A test may turn queries into failures while the server's sender is reading routes.
  std::atomic<RouteQueryResult> result = RouteQueryResult::kOk;
  std::atomic<int> queries = 0;
  // Set before the server runs; SetRows changes them while it does.
  std::vector<RouteRow> rows;
  void SetRows(std::vector<RouteRow> changed) {
    std::lock_guard lock(m_mutex);
    rows = std::move(changed);
  }
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& out) override {
    std::lock_guard lock(m_mutex);
    const RouteQueryResult answer = result;
    if (answer == RouteQueryResult::kOk) out = rows;
    ++queries;
    return answer;
  }
  std::string InterfaceName(int index) const override { return "if" + std::to_string(index); }

 private:
  std::mutex m_mutex;
};

// A route table whose queries block until the test releases them, to hold the server inside a
// reply. The first query, the server's look when its sender starts, is answered at once.
class GatedRouteSource final : public RouteSource {
 public:
  explicit GatedRouteSource(std::vector<RouteRow> rows) : m_rows(std::move(rows)) {}
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& out) override;
  // Waits until the first query has been answered, so that the next one blocks; false after
  // about five seconds.
  bool WaitForFirstQuery() const;
  // Waits until a query is blocked; false after about five seconds.
  bool WaitForQuery() const;
  // Lets every query, present and future, return.
  void Release();

 private:
  const std::vector<RouteRow> m_rows;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  int m_waiting = 0;
  int m_queries = 0;
  bool m_released = false;
};

class FakeAdapterSource final : public AdapterSource {
 public:
  AdapterQueryResult result = AdapterQueryResult::kOk;
  std::vector<AdapterInfo> adapters;
  AdapterQueryResult QueryAdapters(std::vector<AdapterInfo>& out) override {
    if (result == AdapterQueryResult::kOk) out = adapters;
    return result;
  }
};

// A neighbour check over a network the test describes: who holds which address. It asks as the
// system's checks do, at a probe's start and then every interval through its duration, and
// keeps every question it asked.
class FakeNeighbourCheck final : public NeighbourCheck {
 public:
  struct Question {
    std::vector<int> interfaces;  // empty for an echo
    std::uint32_t ip = 0;
    bool echo = false;
  };

  // The devices that answer, by the address they hold (network byte order); they answer ARP
  // and ICMP echo alike. It may be called while a probe is under way.
  void AnswerProbes(std::map<std::uint32_t, DeviceKey> holders);
  // The next `count` questions go unanswered, as for a device that takes a while to come up.
  void HoldAnswers(int count);
  // Every probe from now on cannot be made: kNotPossible with `error` and `reason`, and
  // nothing is asked.
  void Refuse(int error, std::string reason);
  // The next probe breaks off after its first question: kBrokeOff with `error` and `reason`.
  void BreakOffNext(int error, std::string reason);

  std::vector<Question> questions() const;
  // The probes under way.
  int running() const;

 protected:
  ProbeResult WhoAnswers(const ProbeRequest& request) override;
  ProbeResult AnswersEcho(const ProbeRequest& request) override;

 private:
  ProbeResult Run(const ProbeRequest& request);
  // The end of the probe after its question, if it is the last.
  std::optional<ProbeResult> Ask(const ProbeRequest& request, bool first);

  mutable std::mutex m_mutex;
  std::map<std::uint32_t, DeviceKey> m_holders;
  int m_held = 0;
  std::optional<ProbeResult> m_refusal;
  std::optional<ProbeResult> m_breakOff;
  std::vector<Question> m_questions;
  int m_running = 0;
};

}  // namespace quillnet::testing
