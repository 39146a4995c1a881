#include "bootp/bootp_server.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "bootp/server_text.h"
#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

constexpr std::uint16_t kWinsockVersion22 = 0x0202;
constexpr std::uint32_t kAnyAddress = 0;

constexpr char kAlreadyRunningText[] =
    "Bootp Server Startup failed. There is already a Bootp Server running \n\t"
    "Please close your other Bootp Server and restart this tool.";

// Port 67 taken means another BOOTP server runs; that is said in words, without a code.
std::string BindFailureText(int error) {
  return error == kWsaEaddrinuse ? kAlreadyRunningText : WithCode("bind BOOTPS port failed", error);
}

// An address text the reply carries. Only an empty gateway is sent as 0.0.0.0: Arm refuses
// any other text that does not read as an address.
std::uint32_t ReplyAddress(const std::string& text) {
  std::uint32_t address = 0;
  return ReadIpv4Text(text, address) ? address : 0;
}

std::string DeclineText(const std::string& mac, const std::string& ip) {
  return mac + " reports " + ip + " as in use by another device.";
}

// Whether the texts can be sent as they show: the IP address and the mask read as addresses,
// and the gateway does too unless it is empty (none).
bool AreSendable(const std::string& ip, const std::string& mask, const std::string& gateway) {
  std::uint32_t address = 0;
  return ReadIpv4Text(ip, address) && ReadIpv4Text(mask, address) &&
         (gateway.empty() || ReadIpv4Text(gateway, address));
}

}  // namespace

BootPServer::BootPServer()
    : BootPServer(SystemSocketApi(), SystemRouteSource(), {}, &SystemAdapterSource()) {}

BootPServer::BootPServer(SocketApi& sockets, RouteSource& routes, Clock clock,
                         AdapterSource* adapters)
    : m_sockets(sockets), m_clock(std::move(clock)), m_adapters(adapters),
      m_sender(sockets, routes) {
  if (!m_clock) m_clock = CurrentUnixTime;
  std::uint16_t granted = 0;
  m_startupError = m_sockets.Startup(kWinsockVersion22, granted);
  m_winsockReady = m_startupError == 0 && granted == kWinsockVersion22;
  if (!m_winsockReady && m_startupError == 0) m_startupError = kWsaNotInitialised;
}

BootPServer::~BootPServer() { Stop(); }

bool BootPServer::IsStarted() const {
  std::lock_guard lock(m_mutex);
  return m_started;
}

bool BootPServer::Start() {
  std::lock_guard lock(m_mutex);
  // A stopped server stays stopped: a worker loop that restarts a server that is not started
  // must not bind port 67 again after the run has ended.
  if (m_stopped) return false;
  if (!m_winsockReady) {
    SetServerMessageLocked(WithCode("server socket failed", m_startupError));
    m_startError = m_startupError;
    return false;
  }
  // Already listening: the socket stays open for the server's whole life.
  if (m_started) return true;
  if (!SetUpSocket(m_socket)) return false;
  m_started = true;
  m_message.clear();
  m_assignmentMessage = false;
  m_startError = 0;
  if (!m_senderThread.joinable()) {
    m_senderRunning = true;
    m_senderThread = std::thread([this] { SendLoop(); });
  }
  return true;
}

bool BootPServer::IsRunning() const {
  std::lock_guard lock(m_mutex);
  return m_started && m_socket != kInvalidSocket;
}

bool BootPServer::SetUpSocket(SocketHandle& socket) {
  if (socket == kInvalidSocket) {
    if (const int error = m_sockets.Open(socket); error != 0) {
      socket = kInvalidSocket;
      SetServerMessageLocked(WithCode("server socket failed", error));
      m_startError = error;
      return false;
    }
  }
  if (const int error = m_sockets.Bind(socket, kAnyAddress, kServerPort); error != 0) {
    SetServerMessageLocked(BindFailureText(error));
    m_startError = error;
    // A socket that is left open but unbound would block every later receive for ever.
    CloseSocket(socket);
    return false;
  }
  if (const int error = m_sockets.EnableBroadcast(socket); error != 0) {
    SetServerMessageLocked(WithCode("setsockopt broadcast BOOTPS port failed", error));
    m_startError = error;
    CloseSocket(socket);
    return false;
  }
  // A smaller buffer only means a burst may lose requests sooner; the server still runs.
  int granted = 0;
  m_sockets.SetReceiveBuffer(socket, kReceiveBufferBytes, granted);
  return true;
}

bool BootPServer::CloseSocket(SocketHandle& socket) {
  if (socket != kInvalidSocket) {
    m_sockets.Shutdown(socket);
    m_sockets.Close(socket);
    socket = kInvalidSocket;
  }
  return true;
}

void BootPServer::Listen() {
  std::lock_guard lock(m_mutex);
  if (m_stopped || m_loopRunning) return;
  // A loop that ended has left its thread to be joined; it holds no lock once it ended.
  if (m_receiveThread.joinable()) m_receiveThread.join();
  m_loopRunning = true;
  m_loopStarting = true;
  m_receiveThread = std::thread([this] { ReceiveLoop(); });
}

bool BootPServer::IsStarting() const {
  std::lock_guard lock(m_mutex);
  return m_loopStarting;
}

void BootPServer::ReceiveLoop() {
  // A server whose start failed is started again, so the caller's next Listen finds it
  // listening or says why it is not.
  const bool listening = IsRunning() || Start();
  {
    std::lock_guard lock(m_mutex);
    m_loopStarting = false;
    if (!listening) {
      m_loopRunning = false;
      return;
    }
  }
  // Each pass blocks in the receive until a datagram arrives or the server is stopped; a
  // server that no longer listens receives nothing more, so the loop ends rather than spin.
  while (IsRunning()) ServiceOneRequest();
  std::lock_guard lock(m_mutex);
  m_loopRunning = false;
}

void BootPServer::Stop() {
  std::thread sender;
  std::thread receiver;
  {
    std::lock_guard lock(m_mutex);
    m_started = false;
    m_stopped = true;
    m_senderWake.notify_all();
    m_repliesDone.notify_all();
    // Closing under a running receive or send could hand its descriptor to another socket;
    // the shutdown wakes the receive (a send under way still finishes), and the last thread
    // to leave the socket closes it.
    if (m_socket != kInvalidSocket) {
      if (m_receiving) m_sockets.Shutdown(m_socket);
      if (!m_receiving && !m_workerSending && !m_senderRunning) CloseSocket(m_socket);
    }
    // One caller joins the sender; a handler that stops the server from a sending thread
    // cannot.
    if (m_senderThread.joinable() && m_senderThread.get_id() != std::this_thread::get_id() &&
        !(m_sending && m_sendingThread == std::this_thread::get_id())) {
      sender = std::move(m_senderThread);
    }
    if (m_receiveThread.joinable() && m_receiveThread.get_id() != std::this_thread::get_id()) {
      receiver = std::move(m_receiveThread);
    }
  }
  // The receive loop leaves the socket it was woken in; the replies handed to the sender go
  // out first, so the socket is closed once this returns, unless a receive of the caller's own
  // still holds it.
  if (receiver.joinable()) receiver.join();
  if (sender.joinable()) sender.join();
}

void BootPServer::ServiceOneRequest() {
  SocketHandle socket = kInvalidSocket;
  {
    std::lock_guard lock(m_mutex);
    if (!m_started || m_socket == kInvalidSocket) return;
    socket = m_socket;
    m_receiving = true;
  }
  if (m_datagrams.empty()) {
    m_receiveBuffers.resize(kReceiveBatch * kMessageBufferSize);
    m_datagrams.resize(kReceiveBatch);
    for (std::size_t i = 0; i < kReceiveBatch; ++i) {
      m_datagrams[i].buffer = std::span(m_receiveBuffers).subspan(i * kMessageBufferSize,
                                                                  kMessageBufferSize);
    }
  }
  std::size_t count = 0;
  const int error = m_sockets.ReceiveMany(socket, m_datagrams, count);
  if (error == 0) LookAtOwnNetworks(count);

  std::unique_lock lock(m_mutex);
  m_receiving = false;
  if (!m_started) {
    if (!m_senderRunning) CloseSocket(m_socket);
    return;
  }
  if (error != 0) {
    SetServerMessageLocked(WithCode("recvfrom failed", error));
    // Where the system reports an oversize datagram as a failed receive, it is counted as one.
    if (error == kWsaEmsgsize) {
      ++m_notices.oversizeDatagrams;
    } else {
      ++m_notices.receiveFailures;
      m_notices.lastReceiveFailure = m_message;
    }
    return;
  }
  const bool idle = m_pendingReplies.empty() && !m_sending;
  for (std::size_t i = 0; i < count; ++i) {
    TakeDatagramLocked(m_datagrams[i].buffer, m_datagrams[i]);
  }
  if (m_pendingReplies.empty()) return;
  if (!idle || m_pendingReplies.size() > 1) {
    // A burst: the sender sends while this thread drains the socket.
    WakeSenderLocked();
    return;
  }
  // The one reply of an idle server leaves from here.
  Batch batch;
  batch.swap(m_pendingReplies);
  m_listedRepliesPending = 0;
  m_sending = true;
  m_sendingThread = std::this_thread::get_id();
  m_workerSending = true;
  lock.unlock();
  SendBatch(socket, batch);
  lock.lock();
  m_sending = false;
  m_workerSending = false;
  if (m_pendingReplies.empty()) {
    m_repliesDone.notify_all();
  } else {
    m_senderWake.notify_one();
  }
  if (m_stopped && !m_receiving && !m_senderRunning) CloseSocket(m_socket);
}

void BootPServer::LookAtOwnNetworks(std::size_t count) {
  if (m_adapters == nullptr) return;
  const auto relayed = [](const ReceivedDatagram& datagram) {
    return !datagram.oversize && datagram.length >= kMinRequestLength &&
           RelayOf(datagram.buffer.first(datagram.length)) != 0;
  };
  if (std::none_of(m_datagrams.begin(), m_datagrams.begin() + static_cast<std::ptrdiff_t>(count),
                   relayed)) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (m_ownNetworksRead && now - *m_ownNetworksRead < kOwnNetworksMaxAge) return;
  m_ownNetworksRead = now;
  std::vector<AdapterInfo> adapters;
  // A failed look keeps the last one: the addresses rarely change.
  if (m_adapters->QueryAdapters(adapters) != AdapterQueryResult::kOk) return;
  m_ownNetworks.clear();
  for (const AdapterInfo& adapter : adapters) {
    for (const AdapterAddress& entry : adapter.addresses) {
      OwnNetwork network;
      if (!ReadIpv4Text(entry.ipAddress, network.address) || network.address == 0 ||
          !ReadIpv4Text(entry.ipMask, network.mask)) {
        continue;
      }
      m_ownNetworks.push_back(network);
    }
  }
}

void BootPServer::WakeSenderLocked() {
  if (!m_sending) m_senderWake.notify_one();
}

void BootPServer::TakeDatagramLocked(std::span<std::uint8_t> buffer,
                                     const ReceivedDatagram& datagram) {
  if (datagram.oversize) {
    SetServerMessageLocked(WithCode("recvfrom failed", kWsaEmsgsize));
    ++m_notices.oversizeDatagrams;
    return;
  }
  // The reply is built in the request's buffer and sent whole, so what follows the request
  // is zero, as in a buffer cleared before the receive.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(datagram.length), buffer.end(),
            std::uint8_t{0});
  const RequestVerdict verdict = ClassifyRequest(buffer, datagram.length);
  if (!verdict.accepted || !TakesRequest(buffer)) return;
  const std::uint32_t relay = RelayOf(buffer);
  // A reply follows giaddr by unicast: one that names no relay agent is dropped before it is
  // listed, so nobody can aim replies at this PC or at a whole network.
  if (const RelayCheck check = CheckRelay(relay, m_ownNetworks);
      check.fault != RelayFault::kNone) {
    ++m_notices.refusedRelays;
    m_notices.lastRefusedMac = FormatMacAddress(verdict.key);
    m_notices.lastRefusedRelay = Ipv4Text(relay);
    m_notices.lastRefusedWhy = RelayFaultText(check);
    return;
  }
  const DhcpOptions options = ReadDhcpOptions(buffer, datagram.length);
  RequestTable::Heard heard;
  heard.valid = verdict.valid;
  heard.time = m_clock();
  heard.interfaceIndex = datagram.interfaceIndex;
  heard.messageType = options.messageType;
  heard.relay = relay;
  if (!m_table.Record(verdict.key, heard) && verdict.key != 0) {
    m_notices.tableFull = true;
    ++m_notices.unrecordedRequests;
  }
  // Only a device whose latest request was valid is answered at once, and only one with a
  // row can be armed.
  m_kept.Store(verdict.key,
               verdict.valid && KeptRequests::AnswersAtOnce(options.messageType) &&
                   m_table.Contains(verdict.key),
               buffer.first(datagram.length), datagram.interfaceIndex, options.messageType,
               heard.time);
  AnswerLocked(buffer, {buffer, verdict.key, options}, datagram.interfaceIndex, false);
}

PolicyRows BootPServer::RowsLocked(DeviceKey key) const {
  PolicyRows rows;
  m_arming.Rows(key, rows);
  if (const auto host = m_hosts.find(key); host != m_hosts.end()) rows.listed = &host->second;
  rows.serverIds = m_serverIds;
  return rows;
}

void BootPServer::AnswerLocked(std::span<const std::uint8_t> request,
                               const PolicyRequest& policyRequest, int interfaceIndex,
                               bool early) {
  const PolicyRows rows = RowsLocked(policyRequest.key);
  const PolicyAnswer answer = Decide(policyRequest, rows);
  switch (answer.kind) {
    case PolicyAnswer::Kind::kNone:
      return;
    case PolicyAnswer::Kind::kDecline:
      DeclineLocked(policyRequest.key, answer.addresses.ipAddress, answer.armed);
      return;
    case PolicyAnswer::Kind::kOtherServer:
      OtherServerLocked(answer.otherServer);
      return;
    case PolicyAnswer::Kind::kReply:
      break;
  }
  // A flood of listed devices cannot grow the queue: one more asks again.
  if (!answer.armed && m_listedRepliesPending >= kMaxPendingReplies) return;
  PendingReply& pending = m_pendingReplies.emplace_back();
  pending.length = WriteAnswer(request, answer, pending.bytes);
  pending.messageType = answer.type;
  pending.final = answer.final;
  pending.early = early;
  pending.deviceInterface = interfaceIndex;
  if (answer.armed) {
    pending.armed = m_arming.Answered(answer.final, early);
    pending.generation = m_arming.Generation();
  } else {
    ++m_listedRepliesPending;
  }
}

void BootPServer::DeclineLocked(DeviceKey key, std::uint32_t ip, bool armed) {
  DeclineRecord record{FormatMacAddress(key), Ipv4Text(ip), armed,
                       armed ? m_arming.Generation() : 0, m_clock(), {}};
  if (armed) {
    m_arming.Declined();
    SetAssignmentMessageLocked("The device " + DeclineText(record.macText, record.ipAddress) +
                               " Give it another address.");
  }
  QueueNoticeLocked(std::move(record));
}

void BootPServer::OtherServerLocked(std::uint32_t serverId) {
  m_arming.TookOtherServer();
  DeclineRecord record{FormatMacAddress(m_arming.Key()), Ipv4Text(m_arming.Addresses().ipAddress),
                       true, m_arming.Generation(), m_clock(), Ipv4Text(serverId)};
  SetAssignmentMessageLocked("The device " + record.macText +
                             " took the address offered by another DHCP server, " +
                             record.otherServer +
                             ". Stop that server, or keep it from the device's network, then "
                             "try again.");
  QueueNoticeLocked(std::move(record));
}

void BootPServer::QueueNoticeLocked(DeclineRecord record) {
  PendingReply& pending = m_pendingReplies.emplace_back();
  pending.length = 0;
  pending.notice = std::move(record);
}

void BootPServer::SetServerMessageLocked(std::string text) {
  m_message = std::move(text);
  m_assignmentMessage = false;
}

void BootPServer::SetAssignmentMessageLocked(std::string text) {
  m_message = std::move(text);
  m_assignmentMessage = true;
}

void BootPServer::SendLoop() {
  // The thread's first allocations and the first look at the routes cost more than a reply's
  // sends; paid here, before any request, they do not delay the first answer.
  KeepServerIds(m_sender.QueryRoutes());
  std::unique_lock lock(m_mutex);
  while (true) {
    // One thread sends at a time: while the worker sends, its replies wait for it.
    m_senderWake.wait(lock, [this] {
      return (m_stopped && m_pendingReplies.empty()) || (!m_pendingReplies.empty() && !m_sending);
    });
    // After Stop the replies already handed over still go out: each answers a request that
    // was taken, and the armed device's tells the caller the answer was sent.
    if (m_pendingReplies.empty()) break;
    Batch batch;
    batch.swap(m_pendingReplies);
    m_listedRepliesPending = 0;
    m_sending = true;
    m_sendingThread = std::this_thread::get_id();
    const SocketHandle socket = m_socket;
    lock.unlock();
    SendBatch(socket, batch);
    lock.lock();
    m_sending = false;
    if (m_pendingReplies.empty()) m_repliesDone.notify_all();
  }
  m_senderRunning = false;
  if (!m_receiving && !m_workerSending) CloseSocket(m_socket);
  m_repliesDone.notify_all();
}

void BootPServer::SendBatch(SocketHandle socket, const Batch& batch) {
  // One look at the routes serves the whole batch; the route source keeps them current.
  const ReplySender::Routes routes = m_sender.QueryRoutes();
  KeepServerIds(routes);
  // Said here, not by the look itself: the sender's first look, made before any request,
  // answers nobody.
  if (routes.outOfMemory) {
    std::fputs("Error allocating memory\n", stdout);
    std::fflush(stdout);
  }
  for (const PendingReply& reply : batch) {
    if (reply.notice) {
      ReportNotice(*reply.notice);
      continue;
    }
    FinishReply(reply, m_sender.Send(socket, routes, std::span(reply.bytes).first(reply.length),
                                     reply.messageType, reply.deviceInterface));
  }
  if (!routes.failureText.empty()) Report(routes.failureText, routes.failureCaption);
}

bool BootPServer::WaitForReplies(std::chrono::milliseconds limit) const {
  std::unique_lock lock(m_mutex);
  return m_repliesDone.wait_for(lock, limit, [this] {
    return (!m_senderRunning && !m_workerSending) || (m_pendingReplies.empty() && !m_sending);
  });
}

void BootPServer::FinishReply(const PendingReply& reply, const ReplySender::Outcome& outcome) {
  const bool armed = reply.armed.has_value();
  ReplyRecord record = MakeReplyRecord(reply, outcome);
  AnswerHandler handler;
  {
    // The record and the arming's state change together: a caller that sees the answer
    // counted finds its record.
    std::lock_guard lock(m_mutex);
    if (!outcome.message.empty()) {
      SetAssignmentMessageLocked(outcome.message);
      m_replyFailure = outcome.message;
    }
    // The address a reply to a relay left from is this server's identifier there.
    if (outcome.source != 0 &&
        std::find(m_relaySources.begin(), m_relaySources.end(), outcome.source) ==
            m_relaySources.end()) {
      m_relaySources.push_back(outcome.source);
      m_serverIds.push_back(outcome.source);
    }
    // A new arming made while the reply waited is for a new answer: it is left armed. An
    // offer or a nak is no answer yet: the device still has to ask for its address.
    // A failure of an earlier answer to this arming (an answer at once while the link was
    // down, say) no longer tells of the assignment once a later answer reached the device.
    if (armed && reply.generation == m_arming.Generation() && outcome.reachedDevice &&
        outcome.message.empty() && m_assignmentMessage && m_message == m_replyFailure) {
      ClearAssignmentMessageLocked();
    }
    if (armed) {
      m_arming.Sent(reply.generation, *reply.armed, reply.messageType == kDhcpAck,
                    outcome.reachedDevice);
    }
    record.time = m_clock();
    m_lastReply = record;
    m_hasLastReply = true;
    handler = m_answerHandler;
  }
  if (handler) handler(record);
}

void BootPServer::KeepServerIds(const ReplySender::Routes& routes) {
  std::vector<std::uint32_t> addresses;
  for (const ReplySender::Interface& route : routes.interfaces) addresses.push_back(route.address);
  std::lock_guard lock(m_mutex);
  addresses.insert(addresses.end(), m_relaySources.begin(), m_relaySources.end());
  m_serverIds = std::move(addresses);
}

BootPServer::ReplyRecord BootPServer::MakeReplyRecord(const PendingReply& pending,
                                                      const ReplySender::Outcome& outcome) {
  const std::span<const std::uint8_t> reply = std::span(pending.bytes).first(pending.length);
  const std::uint8_t messageType = pending.messageType;
  ReplyAddresses addresses = ReadReplyAddresses(reply);
  if (messageType != kBootpMessage) {
    const DhcpOptions options = ReadDhcpOptions(reply, reply.size());
    addresses.subnetMask = options.subnetMask;
    addresses.defaultGateway = options.router;
  }
  ReplyRecord record;
  record.messageType = messageType;
  record.macText = FormatMacAddress(ReadDeviceKey(reply));
  record.ipAddress = Ipv4Text(addresses.ipAddress);
  record.subnetMask = Ipv4Text(addresses.subnetMask);
  record.defaultGateway = Ipv4Text(addresses.defaultGateway);
  record.interfaces = outcome.interfaces;
  record.interfaceNames = outcome.interfaceNames;
  record.reachedDevice = outcome.reachedDevice;
  record.relay = RelayText(outcome.relay);
  record.armed = pending.armed.has_value();
  record.arming = pending.generation;
  record.early = pending.early;
  record.final = pending.final;
  record.heardInterface = pending.deviceInterface;
  record.failure = outcome.message;
  return record;
}

void BootPServer::GetMessageText(std::string& text) const {
  std::lock_guard lock(m_mutex);
  text = m_message;
}

void BootPServer::ClearAssignmentMessage() {
  std::lock_guard lock(m_mutex);
  ClearAssignmentMessageLocked();
}

void BootPServer::ClearAssignmentMessageLocked() {
  if (!m_assignmentMessage) return;
  m_message.clear();
  m_assignmentMessage = false;
}

BootPServer::Notices BootPServer::GetNotices() const {
  std::lock_guard lock(m_mutex);
  return m_notices;
}

int BootPServer::GetStartError() const {
  std::lock_guard lock(m_mutex);
  return m_startError;
}

std::uint64_t BootPServer::GetChangedRows(std::uint64_t since, std::vector<int>& rows) const {
  std::lock_guard lock(m_mutex);
  return m_table.ChangedRows(since, rows);
}

std::uint64_t BootPServer::GetChangedRows(std::uint64_t since,
                                          std::vector<DeviceRow>& rows) const {
  std::vector<int> indexes;
  std::lock_guard lock(m_mutex);
  const std::uint64_t revision = m_table.ChangedRows(since, indexes);
  rows.clear();
  rows.reserve(indexes.size());
  for (const int index : indexes) rows.push_back(m_table.At(index));
  return revision;
}

std::string BootPServer::RelayText(std::uint32_t relay) {
  return relay != 0 ? Ipv4Text(relay) : std::string();
}

std::string BootPServer::RequestTimeText(std::int64_t seconds) {
  return FormatLocalTime(seconds, "%H:%M:%S");
}

std::vector<int> BootPServer::GetHeardInterfaces(DeviceKey device) const {
  std::lock_guard lock(m_mutex);
  return m_table.HeardInterfaces(device);
}

std::optional<ReplySender::LinkState> BootPServer::GetLinkState(int index) const {
  return m_sender.LinkStateOf(index);
}

std::string BootPServer::GetRelayOf(DeviceKey device) const {
  std::lock_guard lock(m_mutex);
  return RelayText(m_table.RelayOf(device));
}

bool BootPServer::IsTableUpdated() const {
  std::lock_guard lock(m_mutex);
  return m_table.IsUpdated();
}

int BootPServer::GetRequestCount() const {
  std::lock_guard lock(m_mutex);
  return m_started ? m_table.Size() : 0;
}

std::string BootPServer::GetMacText(int row) const {
  std::lock_guard lock(m_mutex);
  return m_table.MacText(row);
}

int BootPServer::GetCount(int row) const {
  std::lock_guard lock(m_mutex);
  return m_table.Count(row);
}

bool BootPServer::IsValid(int row) const {
  std::lock_guard lock(m_mutex);
  return m_table.IsValid(row);
}

std::uint8_t BootPServer::GetMessageType(int row) const {
  std::lock_guard lock(m_mutex);
  return m_table.MessageType(row);
}

std::string BootPServer::GetLastRequestTimeText(int row) const {
  std::int64_t seconds = 0;
  {
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= m_table.Size()) return {};
    seconds = m_table.LastTime(row);
  }
  return RequestTimeText(seconds);
}

bool BootPServer::Arm(std::string macText, std::string ipAddress, std::string subnetMask,
                      std::string defaultGateway) {
  // A text that does not read as it shows must never reach the wire as another address.
  if (!AreSendable(ipAddress, subnetMask, defaultGateway)) return false;
  const DeviceKey key = ParseMacKey(macText);
  std::lock_guard lock(m_mutex);
  if (!m_arming.Arm(key, {ReplyAddress(ipAddress), ReplyAddress(subnetMask),
                          ReplyAddress(defaultGateway)})) {
    return false;
  }
  // The texts of an earlier assignment say nothing of this one.
  ClearAssignmentMessageLocked();
  if (const KeptRequests::Kept* early = m_kept.Recent(key, m_clock())) {
    // The zeroed buffer and the kept bytes make the request exactly as it was received.
    std::array<std::uint8_t, kMessageBufferSize> buffer{};
    std::copy(early->bytes.begin(), early->bytes.end(), buffer.begin());
    DhcpOptions options;
    options.messageType = early->messageType;
    const std::size_t queued = m_pendingReplies.size();
    AnswerLocked(buffer, {buffer, key, options}, early->interfaceIndex, true);
    if (m_pendingReplies.size() > queued) WakeSenderLocked();
  }
  return true;
}

bool BootPServer::Disarm() {
  std::lock_guard lock(m_mutex);
  return m_arming.Disarm();
}

bool BootPServer::IsArmed() const {
  std::lock_guard lock(m_mutex);
  return m_arming.IsArmed();
}

std::uint64_t BootPServer::GetArming() const {
  std::lock_guard lock(m_mutex);
  return m_arming.Generation();
}

bool BootPServer::WasReplySent() const {
  std::lock_guard lock(m_mutex);
  return m_arming.ReplySent();
}

BootPServer::DeviceVerdict BootPServer::GetDeviceVerdict() const {
  std::lock_guard lock(m_mutex);
  return m_arming.GetVerdict();
}

void BootPServer::SetErrorHandler(ErrorHandler handler) {
  std::lock_guard lock(m_mutex);
  m_errorHandler = std::move(handler);
}

void BootPServer::SetHosts(const std::vector<HostEntry>& hosts) {
  std::unordered_map<DeviceKey, Assignment> table;
  table.reserve(hosts.size());
  for (const HostEntry& host : hosts) {
    table[ParseMacKey(host.macText)] = {ReplyAddress(host.ipAddress), ReplyAddress(host.subnetMask),
                                        ReplyAddress(host.defaultGateway)};
  }
  std::lock_guard lock(m_mutex);
  m_hosts = std::move(table);
}

bool BootPServer::GetLastReply(ReplyRecord& record) const {
  std::lock_guard lock(m_mutex);
  if (m_hasLastReply) record = m_lastReply;
  return m_hasLastReply;
}

void BootPServer::SetAnswerHandler(AnswerHandler handler) {
  std::lock_guard lock(m_mutex);
  m_answerHandler = std::move(handler);
}

void BootPServer::SetDeclineHandler(DeclineHandler handler) {
  std::lock_guard lock(m_mutex);
  m_declineHandler = std::move(handler);
}

void BootPServer::ReportNotice(const DeclineRecord& record) const {
  DeclineHandler handler;
  {
    std::lock_guard lock(m_mutex);
    handler = m_declineHandler;
  }
  if (handler) handler(record);
}

void BootPServer::Report(const std::string& text, const std::string& caption) const {
  ErrorHandler handler;
  {
    std::lock_guard lock(m_mutex);
    handler = m_errorHandler;
  }
  if (handler) {
    handler(text, caption);
  } else {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

}  // namespace quillnet
