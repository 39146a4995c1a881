#include "bootp/bootp_server.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>

#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

constexpr std::uint16_t kWinsockVersion22 = 0x0202;
constexpr std::uint32_t kAnyAddress = 0;
constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr std::uint32_t kHostMask = 0xFFFFFFFFu;
constexpr std::uint8_t kLoopbackBytes[4] = {127, 0, 0, 1};

constexpr char kAlreadyRunningText[] =
    "Bootp Server Startup failed. There is already a Bootp Server running \n\t"
    "Please close your other Bootp Server and restart this tool.";
constexpr char kNoInterfaceText[] =
    "No network interface could send the reply. Connect this PC to the device's network "
    "and give it an IPv4 address.\n";
constexpr char kRouteQueryFailedText[] = "Insufficient buffer for GetIpForwardTable";
constexpr char kRouteQueryFailedCaption[] = "Error before send";

// "<what> %d (%08X)\n": the code in decimal, then as eight upper-case hexadecimal digits.
std::string WithCode(const char* what, int code) {
  return std::string(what) + " " + WinsockCodeText(code) + "\n";
}

// Port 67 taken means another BOOTP server runs; that is said in words, without a code.
std::string BindFailureText(int error) {
  return error == kWsaEaddrinuse ? kAlreadyRunningText : WithCode("bind BOOTPS port failed", error);
}

std::uint32_t LoopbackAddress() {
  std::uint32_t address = 0;
  static_assert(sizeof kLoopbackBytes == sizeof address);
  std::memcpy(&address, kLoopbackBytes, sizeof address);
  return address;
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

BootPServer::BootPServer() : BootPServer(SystemSocketApi(), SystemRouteSource()) {}

BootPServer::BootPServer(SocketApi& sockets, RouteSource& routes, Clock clock)
    : m_sockets(sockets), m_routes(routes), m_clock(std::move(clock)) {
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
  if (!m_sender.joinable()) {
    m_senderRunning = true;
    m_sender = std::thread([this] { SendLoop(); });
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

void BootPServer::Stop() {
  std::thread sender;
  {
    std::lock_guard lock(m_mutex);
    m_started = false;
    m_stopped = true;
    m_senderWake.notify_all();
    m_repliesDone.notify_all();
    // Closing under a running receive or send could hand its descriptor to another socket;
    // the shutdown wakes the receive, and the last thread to leave the socket closes it.
    if (m_socket != kInvalidSocket) {
      if (m_receiving) m_sockets.Shutdown(m_socket);
      if (!m_receiving && !m_senderRunning) CloseSocket(m_socket);
    }
    // One caller joins the sender; a handler that stops the server from the sender cannot.
    if (m_sender.joinable() && m_sender.get_id() != std::this_thread::get_id()) {
      sender = std::move(m_sender);
    }
  }
  // The replies handed to the sender go out first, so the socket is closed once this returns,
  // unless a receive still holds it.
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

  std::lock_guard lock(m_mutex);
  m_receiving = false;
  if (!m_started) {
    if (!m_senderRunning) CloseSocket(m_socket);
    return;
  }
  if (error != 0) {
    SetServerMessageLocked(WithCode("recvfrom failed", error));
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    TakeDatagramLocked(m_datagrams[i].buffer, m_datagrams[i]);
  }
}

void BootPServer::TakeDatagramLocked(std::span<std::uint8_t> buffer,
                                     const ReceivedDatagram& datagram) {
  if (datagram.oversize) {
    SetServerMessageLocked(WithCode("recvfrom failed", kWsaEmsgsize));
    return;
  }
  // The reply is built in the request's buffer and sent whole, so what follows the request
  // is zero, as in a buffer cleared before the receive.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(datagram.length), buffer.end(),
            std::uint8_t{0});
  const RequestVerdict verdict = ClassifyRequest(buffer, datagram.length);
  if (!verdict.accepted) return;
  const DhcpOptions options = ReadDhcpOptions(buffer, datagram.length);
  RecordRequestLocked(verdict.key, verdict.valid, datagram.interfaceIndex, options.messageType);
  StoreRequestLocked(verdict.key, verdict.valid, buffer.first(datagram.length),
                     datagram.interfaceIndex, options.messageType);
  if (options.messageType != kBootpMessage) {
    TakeDhcpRequestLocked(buffer, options, verdict.key, datagram.interfaceIndex);
    return;
  }
  if (ServesTargetLocked(verdict.key)) {
    // Once decided, the reply goes out even if Disarm comes before it is sent.
    BuildArmedReplyLocked(buffer);
    if (!m_armed) {
      QueueReplyLocked(buffer, Answer::kArmedAgain, m_armGeneration, datagram.interfaceIndex);
      return;
    }
    QueueReplyLocked(buffer, Answer::kArmed, m_armGeneration, datagram.interfaceIndex);
    m_armed = false;
    m_armedReplyQueued = true;
    return;
  }
  const auto host = m_hosts.find(verdict.key);
  if (host == m_hosts.end() || m_listedRepliesPending >= kMaxPendingReplies) return;
  BuildReply(buffer, host->second.ip, host->second.mask, host->second.gateway);
  QueueReplyLocked(buffer, Answer::kListed, 0, datagram.interfaceIndex);
}

void BootPServer::TakeDhcpRequestLocked(std::span<const std::uint8_t> request,
                                        const DhcpOptions& options, DeviceKey key,
                                        int interfaceIndex) {
  const bool armed = ServesTargetLocked(key);
  DhcpReplyFields fields;
  if (armed) {
    fields = ArmedDhcpFieldsLocked();
  } else if (const auto host = m_hosts.find(key); host != m_hosts.end()) {
    fields = {kDhcpOffer, host->second.ip, host->second.mask, host->second.gateway, 0};
  } else {
    // After its ack the armed device may still find the address in use.
    if (options.messageType == kDhcpDecline && m_watchingTarget && key == m_targetKey) {
      const std::uint32_t ip = ReplyAddress(m_targetIp);
      if (!options.hasRequestedAddress || options.requestedAddress == ip) {
        DeclineLocked(key, ip, true);
      }
    }
    return;
  }
  const Answer offer = armed ? Answer::kArmedOffer : Answer::kListed;
  switch (options.messageType) {
    case kDhcpDiscover:
      QueueDhcpReplyLocked(request, kDhcpOffer, fields, offer, interfaceIndex);
      return;
    case kDhcpRequest: {
      if (options.hasServerId && !IsServerIdLocked(options.serverId)) {
        // It took another server's offer; waiting on for it would be waiting for ever.
        if (armed) OtherServerLocked(key, options.serverId);
        return;
      }
      // Selecting and rebooting clients name the address in option 50, renewing ones in
      // ciaddr.
      std::uint32_t asked = options.requestedAddress;
      if (!options.hasRequestedAddress) std::memcpy(&asked, &request[kCiaddrOffset], kAddressSize);
      if (asked != fields.ipAddress) {
        QueueDhcpReplyLocked(request, kDhcpNak, fields, offer, interfaceIndex);
        return;
      }
      const Answer answer = !armed ? Answer::kListed : m_armed ? Answer::kArmed : Answer::kArmedAgain;
      if (QueueDhcpReplyLocked(request, kDhcpAck, fields, answer, interfaceIndex) &&
          answer == Answer::kArmed) {
        m_armed = false;
        m_armedReplyQueued = true;
      }
      return;
    }
    case kDhcpDecline:
      if (!options.hasRequestedAddress || options.requestedAddress == fields.ipAddress) {
        DeclineLocked(key, fields.ipAddress, armed);
      }
      return;
    default:
      // A release or an inform is only recorded; other types are not a client's to send.
      return;
  }
}

bool BootPServer::QueueDhcpReplyLocked(std::span<const std::uint8_t> request, std::uint8_t type,
                                       const DhcpReplyFields& addresses, Answer answer,
                                       int interfaceIndex) {
  if (answer == Answer::kListed && m_listedRepliesPending >= kMaxPendingReplies) return false;
  DhcpReplyFields fields = addresses;
  fields.messageType = type;
  std::array<std::uint8_t, kDhcpReplyLength> reply{};
  // The server identifier is written by the sender for each interface.
  const std::size_t length = BuildDhcpReply(request, fields, reply);
  QueueReplyLocked(std::span(reply).first(length), answer,
                   answer == Answer::kListed ? 0 : m_armGeneration, interfaceIndex, type);
  return true;
}

void BootPServer::DeclineLocked(DeviceKey key, std::uint32_t ip, bool armed) {
  DeclineRecord record{FormatMacAddress(key), Ipv4Text(ip), armed, armed ? m_armGeneration : 0,
                       m_clock(), {}};
  if (armed) {
    m_armed = false;
    m_serving = false;
    m_verdict = DeviceVerdict::kDeclined;
    SetAssignmentMessageLocked("The device " + DeclineText(record.macText, record.ipAddress) +
                               " Give it another address.");
  }
  QueueNoticeLocked(std::move(record));
}

void BootPServer::OtherServerLocked(DeviceKey key, std::uint32_t serverId) {
  m_armed = false;
  m_serving = false;
  m_verdict = DeviceVerdict::kOtherServer;
  DeclineRecord record{FormatMacAddress(key), m_targetIp, true, m_armGeneration, m_clock(),
                       Ipv4Text(serverId)};
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
  m_senderWake.notify_one();
}

bool BootPServer::ServesTargetLocked(DeviceKey key) const {
  return m_serving && key == m_targetKey;
}

void BootPServer::SetServerMessageLocked(std::string text) {
  m_message = std::move(text);
  m_assignmentMessage = false;
}

void BootPServer::SetAssignmentMessageLocked(std::string text) {
  m_message = std::move(text);
  m_assignmentMessage = true;
}

bool BootPServer::IsServerIdLocked(std::uint32_t address) const {
  return std::find(m_serverIds.begin(), m_serverIds.end(), address) != m_serverIds.end();
}

void BootPServer::QueueReplyLocked(std::span<const std::uint8_t> reply, Answer answer,
                                   std::uint64_t generation, int deviceInterface,
                                   std::uint8_t messageType) {
  PendingReply& pending = m_pendingReplies.emplace_back();
  pending.length = std::min(reply.size(), pending.bytes.size());
  std::copy_n(reply.begin(), pending.length, pending.bytes.begin());
  pending.messageType = messageType;
  pending.answer = answer;
  pending.generation = generation;
  pending.deviceInterface = deviceInterface;
  if (answer == Answer::kListed) ++m_listedRepliesPending;
  m_senderWake.notify_one();
}

void BootPServer::SendLoop() {
  // The thread's first allocations and the first look at the routes cost more than a reply's
  // sends; paid here, before any request, they do not delay the first answer.
  KeepServerIds(QuerySendRoutes());
  std::unique_lock lock(m_mutex);
  while (true) {
    m_senderWake.wait(lock, [this] { return m_stopped || !m_pendingReplies.empty(); });
    // After Stop the replies already handed over still go out: each answers a request that
    // was taken, and the armed device's tells the caller the answer was sent.
    if (m_pendingReplies.empty()) break;
    std::deque<PendingReply> batch;
    batch.swap(m_pendingReplies);
    m_listedRepliesPending = 0;
    m_sending = true;
    const SocketHandle socket = m_socket;
    lock.unlock();
    // One look at the routes serves the whole batch; the route source keeps them current.
    const SendRoutes routes = QuerySendRoutes();
    KeepServerIds(routes);
    for (const PendingReply& reply : batch) {
      if (reply.notice) {
        ReportNotice(*reply.notice);
        continue;
      }
      FinishReply(reply, SendReply(socket, routes, std::span(reply.bytes).first(reply.length),
                                   reply.messageType, reply.deviceInterface));
    }
    if (!routes.pending.text.empty()) Report(routes.pending);
    lock.lock();
    m_sending = false;
    if (m_pendingReplies.empty()) m_repliesDone.notify_all();
  }
  m_senderRunning = false;
  if (!m_receiving) CloseSocket(m_socket);
  m_repliesDone.notify_all();
}

bool BootPServer::WaitForReplies(std::chrono::milliseconds limit) const {
  std::unique_lock lock(m_mutex);
  return m_repliesDone.wait_for(lock, limit, [this] {
    return !m_senderRunning || (m_pendingReplies.empty() && !m_sending);
  });
}

void BootPServer::FinishReply(const PendingReply& reply, const ReplyOutcome& outcome) {
  const bool armed = reply.answer != Answer::kListed;
  ReplyRecord record = MakeReplyRecord(std::span(reply.bytes).first(reply.length),
                                       reply.messageType, outcome, armed);
  record.arming = reply.generation;
  record.early = reply.early;
  AnswerHandler handler;
  {
    // The record and the arming's state change together: a caller that sees the answer
    // counted finds its record.
    std::lock_guard lock(m_mutex);
    if (!outcome.message.empty()) SetAssignmentMessageLocked(outcome.message);
    // A new arming made while the reply waited is for a new answer: it is left armed. An
    // offer or a nak is no answer yet: the device still has to ask for its address.
    if (armed && reply.answer != Answer::kArmedOffer && reply.generation == m_armGeneration) {
      m_replySent = outcome.reachedDevice;
      // After an early answer the device's next request is answered as well, in case the
      // early one came too late for it.
      if (reply.answer == Answer::kArmed) m_armedReplyQueued = false;
      if (reply.messageType == kDhcpAck && outcome.reachedDevice &&
          m_verdict == DeviceVerdict::kNone) {
        m_verdict = DeviceVerdict::kAccepted;
      }
    }
    record.time = m_clock();
    m_lastReply = record;
    m_hasLastReply = true;
    handler = m_answerHandler;
  }
  if (handler) handler(record);
}

void BootPServer::KeepServerIds(const SendRoutes& routes) {
  std::vector<std::uint32_t> addresses;
  for (const BroadcastInterface& route : routes.interfaces) addresses.push_back(route.address);
  std::lock_guard lock(m_mutex);
  m_serverIds = std::move(addresses);
}

DhcpReplyFields BootPServer::ArmedDhcpFieldsLocked() const {
  return {kDhcpOffer, ReplyAddress(m_targetIp), ReplyAddress(m_targetMask),
          ReplyAddress(m_targetGateway), 0};
}

void BootPServer::BuildArmedReplyLocked(std::span<std::uint8_t> buffer) const {
  BuildReply(buffer, ReplyAddress(m_targetIp), ReplyAddress(m_targetMask),
             ReplyAddress(m_targetGateway));
}

BootPServer::ReplyRecord BootPServer::MakeReplyRecord(std::span<const std::uint8_t> reply,
                                                      std::uint8_t messageType,
                                                      const ReplyOutcome& outcome, bool armed) {
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
  record.armed = armed;
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

int BootPServer::GetStartError() const {
  std::lock_guard lock(m_mutex);
  return m_startError;
}

void BootPServer::RecordRequest(DeviceKey key, bool valid) {
  std::lock_guard lock(m_mutex);
  RecordRequestLocked(key, valid);
}

void BootPServer::RecordRequestLocked(DeviceKey key, bool valid, int interfaceIndex,
                                      std::uint8_t messageType) {
  if (key == 0) return;
  auto found = m_rowByKey.find(key);
  if (found == m_rowByKey.end()) {
    if (m_keys.size() >= kMaxRows) return;
    found = m_rowByKey.emplace(key, m_keys.size()).first;
    m_keys.push_back(key);
    m_macTexts.push_back(FormatMacAddress(key));
    m_rowStates.emplace_back();
  }
  m_tableUpdated = true;
  const auto index = static_cast<std::int32_t>(found->second);
  RowState& row = m_rowStates[found->second];
  if (valid) row.valid = true;
  if (row.count < std::numeric_limits<std::int32_t>::max()) ++row.count;
  row.lastTime = m_clock();
  row.messageType = messageType;
  row.revision = ++m_revision;
  if (interfaceIndex != 0) {
    // Most recent first, each interface once.
    auto end = std::find(row.interfaces.begin(), row.interfaces.end(), interfaceIndex);
    if (end == row.interfaces.end()) --end;
    std::copy_backward(row.interfaces.begin(), end, end + 1);
    row.interfaces.front() = interfaceIndex;
  }
  if (index != m_newestRow) {
    // Move the row to the newest end of the revision list.
    if (row.older != -1) m_rowStates[static_cast<std::size_t>(row.older)].newer = row.newer;
    if (row.newer != -1) m_rowStates[static_cast<std::size_t>(row.newer)].older = row.older;
    row.newer = -1;
    row.older = m_newestRow;
    if (m_newestRow != -1) m_rowStates[static_cast<std::size_t>(m_newestRow)].newer = index;
    m_newestRow = index;
  }
}

std::uint64_t BootPServer::GetChangedRows(std::uint64_t since, std::vector<int>& rows) const {
  std::lock_guard lock(m_mutex);
  for (std::int32_t index = m_newestRow;
       index != -1 && m_rowStates[static_cast<std::size_t>(index)].revision > since;
       index = m_rowStates[static_cast<std::size_t>(index)].older) {
    rows.push_back(index);
  }
  return m_revision;
}

void BootPServer::StoreRequestLocked(DeviceKey key, bool valid,
                                     std::span<const std::uint8_t> request, int interfaceIndex,
                                     std::uint8_t messageType) {
  if (const auto found = m_storedByKey.find(key); found != m_storedByKey.end()) {
    DropStoredRequestLocked(found->second);
  }
  const std::int64_t now = m_clock();
  // Only a device whose latest request was valid is answered at once, and only a listed one
  // can be armed. In DHCP only a discover is: an offer to it is harmless if it came too late,
  // while an ack to a stale request would count as accepted though the device has moved on.
  const bool answerable = messageType == kBootpMessage || messageType == kDhcpDiscover;
  if (valid && answerable && m_rowByKey.contains(key)) {
    std::size_t length = request.size();
    while (length > 0 && request[length - 1] == 0) --length;
    m_storedRequests.push_front(
        {key, now, interfaceIndex, messageType, {request.begin(), request.begin() + length}});
    m_storedByKey[key] = m_storedRequests.begin();
    m_storedBytes += length + kStoredRequestOverhead;
  }
  while (!m_storedRequests.empty() &&
         (m_storedBytes > kStoredRequestBudget ||
          now - m_storedRequests.back().time > kEarlyAnswerSeconds)) {
    DropStoredRequestLocked(std::prev(m_storedRequests.end()));
  }
}

void BootPServer::DropStoredRequestLocked(StoredRequests::iterator stored) {
  m_storedBytes -= stored->bytes.size() + kStoredRequestOverhead;
  m_storedByKey.erase(stored->key);
  m_storedRequests.erase(stored);
}

const BootPServer::StoredRequest* BootPServer::EarlyRequestLocked() const {
  if (!m_armed) return nullptr;
  const auto found = m_storedByKey.find(m_targetKey);
  if (found == m_storedByKey.end()) return nullptr;
  return m_clock() - found->second->time <= kEarlyAnswerSeconds ? &*found->second : nullptr;
}

std::size_t BootPServer::GetStoredRequestBytes() const {
  std::lock_guard lock(m_mutex);
  return m_storedBytes;
}

std::vector<int> BootPServer::GetHeardInterfaces(std::string_view macText) const {
  std::vector<int> interfaces;
  std::lock_guard lock(m_mutex);
  const auto found = m_rowByKey.find(ParseMacKey(macText));
  if (found == m_rowByKey.end()) return interfaces;
  for (const std::int32_t index : m_rowStates[found->second].interfaces) {
    if (index != 0) interfaces.push_back(index);
  }
  return interfaces;
}

bool BootPServer::IsTableUpdated() const {
  std::lock_guard lock(m_mutex);
  return m_tableUpdated;
}

int BootPServer::GetRequestCount() const {
  std::lock_guard lock(m_mutex);
  return m_started ? static_cast<int>(m_keys.size()) : 0;
}

std::string BootPServer::GetMacText(int row) const {
  std::lock_guard lock(m_mutex);
  if (row < 0 || static_cast<std::size_t>(row) >= m_macTexts.size()) return {};
  return m_macTexts[static_cast<std::size_t>(row)];
}

const BootPServer::RowState* BootPServer::RowAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= m_rowStates.size()) return nullptr;
  return &m_rowStates[static_cast<std::size_t>(row)];
}

int BootPServer::GetCount(int row) const {
  std::lock_guard lock(m_mutex);
  const RowState* state = RowAt(row);
  return state != nullptr ? state->count : 0;
}

bool BootPServer::IsValid(int row) const {
  std::lock_guard lock(m_mutex);
  const RowState* state = RowAt(row);
  return state != nullptr && state->valid;
}

std::uint8_t BootPServer::GetMessageType(int row) const {
  std::lock_guard lock(m_mutex);
  const RowState* state = RowAt(row);
  return state != nullptr ? state->messageType : kBootpMessage;
}

std::string BootPServer::GetLastRequestTimeText(int row) const {
  std::int64_t seconds = 0;
  {
    std::lock_guard lock(m_mutex);
    const RowState* state = RowAt(row);
    if (state == nullptr) return {};
    seconds = state->lastTime;
  }
  return FormatLocalTime(seconds, "%H:%M:%S");
}

bool BootPServer::Arm(std::string macText, std::string ipAddress, std::string subnetMask,
                      std::string defaultGateway) {
  // A text that does not read as it shows must never reach the wire as another address.
  if (!AreSendable(ipAddress, subnetMask, defaultGateway)) return false;
  std::lock_guard lock(m_mutex);
  if (IsArmedLocked()) return false;
  m_targetMac = std::move(macText);
  m_targetIp = std::move(ipAddress);
  m_targetMask = std::move(subnetMask);
  m_targetGateway = std::move(defaultGateway);
  m_targetKey = ParseMacKey(m_targetMac);
  m_armed = true;
  m_watchingTarget = true;
  m_serving = true;
  ++m_armGeneration;
  // The texts of an earlier assignment say nothing of this one.
  ClearAssignmentMessageLocked();
  // A poll after this arming must not see the previous answer's result.
  m_replySent = false;
  m_verdict = DeviceVerdict::kNone;
  if (const StoredRequest* early = EarlyRequestLocked()) {
    // The zeroed buffer and the kept bytes make the request exactly as it was received.
    std::array<std::uint8_t, kMessageBufferSize> buffer{};
    std::copy(early->bytes.begin(), early->bytes.end(), buffer.begin());
    if (early->messageType == kDhcpDiscover) {
      QueueDhcpReplyLocked(buffer, kDhcpOffer, ArmedDhcpFieldsLocked(), Answer::kArmedOffer,
                           early->interfaceIndex);
    } else {
      BuildArmedReplyLocked(buffer);
      QueueReplyLocked(buffer, Answer::kArmedEarly, m_armGeneration, early->interfaceIndex);
    }
    m_pendingReplies.back().early = true;
  }
  return true;
}

bool BootPServer::Disarm() {
  std::lock_guard lock(m_mutex);
  const bool wasArmed = IsArmedLocked();
  m_armed = false;
  m_armedReplyQueued = false;
  m_watchingTarget = false;
  m_serving = false;
  return wasArmed;
}

bool BootPServer::IsArmed() const {
  std::lock_guard lock(m_mutex);
  return IsArmedLocked();
}

bool BootPServer::IsArmedLocked() const { return m_armed || m_armedReplyQueued; }

std::uint64_t BootPServer::GetArming() const {
  std::lock_guard lock(m_mutex);
  return m_armGeneration;
}

bool BootPServer::WasReplySent() const {
  std::lock_guard lock(m_mutex);
  return m_replySent;
}

BootPServer::DeviceVerdict BootPServer::GetDeviceVerdict() const {
  std::lock_guard lock(m_mutex);
  return m_verdict;
}

void BootPServer::SetErrorHandler(ErrorHandler handler) {
  std::lock_guard lock(m_mutex);
  m_errorHandler = std::move(handler);
}

void BootPServer::SetHosts(const std::vector<HostEntry>& hosts) {
  std::unordered_map<DeviceKey, HostAddresses> table;
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

BootPServer::SendRoutes BootPServer::QuerySendRoutes() {
  SendRoutes result;
  std::vector<RouteRow> rows;
  switch (m_routes.QueryRoutes(rows)) {
    case RouteQueryResult::kOk:
      break;
    case RouteQueryResult::kNoMemory:
      std::fputs("Error allocating memory\n", stdout);
      std::fflush(stdout);
      rows.clear();
      break;
    case RouteQueryResult::kFailed:
      // Rows the query did not return cannot be trusted; none is served.
      result.pending = {kRouteQueryFailedText, kRouteQueryFailedCaption};
      rows.clear();
      break;
  }
  const std::uint32_t loopback = LoopbackAddress();
  for (const RouteRow& row : rows) {
    // The limited-broadcast host route of one interface; its next hop is that interface's
    // own address.
    if (row.dest != kBroadcastAddress || row.nextHop == loopback || row.mask != kHostMask) {
      continue;
    }
    result.interfaces.push_back({row.nextHop, row.interfaceIndex, {}});
  }
  return result;
}

BootPServer::ReplyOutcome BootPServer::SendReply(SocketHandle socket, const SendRoutes& routes,
                                                 std::span<const std::uint8_t> message,
                                                 std::uint8_t messageType, int deviceInterface) {
  ReplyOutcome outcome;
  std::size_t failures = 0;
  bool deviceRowFound = false;
  bool indexesKnown = false;
  std::string deviceFailure;
  std::vector<bool> failedRoutes(routes.interfaces.size(), false);
  for (std::size_t i = 0; i < routes.interfaces.size(); ++i) {
    const BroadcastInterface& route = routes.interfaces[i];
    indexesKnown = indexesKnown || route.index != 0;
    const bool deviceRow = deviceInterface != 0 && route.index == deviceInterface;
    deviceRowFound = deviceRowFound || deviceRow;
    std::array<std::uint8_t, kDhcpMaxReplyLength> named{};
    std::span<const std::uint8_t> copy = message;
    if (messageType != kBootpMessage && message.size() <= named.size()) {
      std::copy(message.begin(), message.end(), named.begin());
      SetDhcpServerId(named, route.address);
      copy = std::span(named).first(message.size());
    }
    if (const int error = m_sockets.SendFrom(socket, copy, route.address, route.index,
                                             kBroadcastAddress, kClientPort);
        error == 0) {
      ++outcome.interfaces;
      if (deviceRow) outcome.reachedDevice = true;
    } else {
      failedRoutes[i] = true;
      std::string failure = WithCode("Sendto error", error);
      if (deviceRow) deviceFailure = failure;
      // A failure on one interface does not stop the others; the text keeps the first.
      if (++failures == 1) outcome.message = std::move(failure);
    }
  }
  // Named only once every copy has left: asking the system for a name takes longer than a
  // send, and each route's name is asked for once per batch.
  for (std::size_t i = 0; i < routes.interfaces.size(); ++i) {
    const BroadcastInterface& route = routes.interfaces[i];
    if (failedRoutes[i]) continue;
    if (route.name.empty()) {
      route.name = route.index != 0 ? m_routes.InterfaceName(route.index) : Ipv4Text(route.address);
    }
    outcome.interfaceNames.push_back(route.name);
  }
  // Where the interface the device asked on, or the interfaces of the rows, are not known,
  // any copy may have reached it.
  if (deviceInterface == 0 || !indexesKnown) {
    deviceInterface = 0;
    outcome.reachedDevice = outcome.interfaces > 0;
  }
  if (routes.interfaces.empty()) {
    outcome.message = kNoInterfaceText;
  } else if (!outcome.reachedDevice && deviceInterface != 0) {
    // Copies on the other interfaces go into other networks; the device got nothing.
    const std::string name = m_routes.InterfaceName(deviceInterface);
    outcome.message = "The reply could not be sent through " + name + ", where the device asked: " +
                      (deviceRowFound ? deviceFailure
                                      : name + " has no IPv4 address or is down. Give this PC "
                                               "an address on the device's network.\n");
  }
  return outcome;
}

void BootPServer::ReportNotice(const DeclineRecord& record) const {
  DeclineHandler handler;
  {
    std::lock_guard lock(m_mutex);
    handler = m_declineHandler;
  }
  if (handler) handler(record);
}

void BootPServer::Report(const PendingError& pending) const {
  ErrorHandler handler;
  {
    std::lock_guard lock(m_mutex);
    handler = m_errorHandler;
  }
  if (handler) {
    handler(pending.text, pending.caption);
  } else {
    std::fprintf(stderr, "%s: %s\n", pending.caption.c_str(), pending.text.c_str());
  }
}

}  // namespace quillnet
