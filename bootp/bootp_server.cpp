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
  char digits[32];
  std::snprintf(digits, sizeof digits, "%d (%08X)", code, static_cast<unsigned>(code));
  return std::string(what) + " " + digits + "\n";
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
    m_message = WithCode("server socket failed", m_startupError);
    m_startError = m_startupError;
    return false;
  }
  // The worker owns the listening socket while it receives on it or sends a reply (after
  // which it reopens it); closing or binding it here would pull it from under the worker.
  if (m_receiving || m_replying) return m_started;
  // Already listening: the socket stays open.
  if (m_started && m_socket != kInvalidSocket) return true;
  CloseSocket(m_socket);
  if (!SetUpSocket(m_socket)) return false;
  m_started = true;
  m_message.clear();
  m_startError = 0;
  return true;
}

bool BootPServer::IsRunning() const {
  std::lock_guard lock(m_mutex);
  // While a reply is sent the listening socket is closed, yet the server has not stopped.
  return m_started && (m_socket != kInvalidSocket || m_replying);
}

bool BootPServer::SetUpSocket(SocketHandle& socket) {
  if (socket == kInvalidSocket) {
    if (const int error = m_sockets.Open(socket); error != 0) {
      socket = kInvalidSocket;
      m_message = WithCode("server socket failed", error);
      m_startError = error;
      return false;
    }
  }
  if (const int error = m_sockets.Bind(socket, kAnyAddress, kServerPort); error != 0) {
    m_message = BindFailureText(error);
    m_startError = error;
    // A socket that is left open but unbound would block every later receive for ever.
    CloseSocket(socket);
    return false;
  }
  if (const int error = m_sockets.EnableBroadcast(socket); error != 0) {
    m_message = WithCode("setsockopt broadcast BOOTPS port failed", error);
    m_startError = error;
    CloseSocket(socket);
    return false;
  }
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
  std::lock_guard lock(m_mutex);
  m_started = false;
  m_stopped = true;
  // During a reply m_socket is closed already and the worker, seeing m_started false, does
  // not reopen it.
  if (m_socket == kInvalidSocket) return;
  if (m_receiving) {
    // Closing under a running receive could hand its descriptor to another socket; the
    // shutdown wakes the receive and the receiving thread closes the socket.
    m_sockets.Shutdown(m_socket);
  } else {
    CloseSocket(m_socket);
  }
}

void BootPServer::ServiceOneRequest() {
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  SocketHandle socket = kInvalidSocket;
  std::uint64_t generation = 0;
  int deviceInterface = 0;
  {
    std::lock_guard lock(m_mutex);
    if (!m_started || m_socket == kInvalidSocket) return;
    const StoredRequest* early =
        std::exchange(m_earlyAnswerPending, false) ? EarlyRequestLocked() : nullptr;
    if (early == nullptr) {
      socket = m_socket;
      m_receiving = true;
    } else {
      // The zeroed buffer and the kept bytes make the request exactly as it was received.
      std::copy(early->bytes.begin(), early->bytes.end(), buffer.begin());
      BuildArmedReplyLocked(buffer);
      generation = m_armGeneration;
      deviceInterface = early->interfaceIndex;
      CloseSocket(m_socket);
      m_replying = true;
    }
  }
  if (socket == kInvalidSocket) {
    FinishReply(buffer, Answer::kArmedEarly, generation, deviceInterface);
    return;
  }

  std::size_t received = 0;
  int interfaceIndex = 0;
  const int error = m_sockets.ReceiveFrom(socket, buffer, received, interfaceIndex);

  Answer answer = Answer::kListed;
  {
    std::lock_guard lock(m_mutex);
    m_receiving = false;
    if (!m_started) {
      CloseSocket(m_socket);
      return;
    }
    // Arming shut the socket down to wake this receive for an answer at once; the socket
    // gives nothing more, so it is opened anew, unless a reply below does that anyway.
    const bool woken = std::exchange(m_socketWoken, false);
    const auto reopenIfWoken = [&] {
      if (!woken) return;
      CloseSocket(m_socket);
      SetUpSocket(m_socket);
    };
    if (error != 0) {
      if (!woken) m_message = WithCode("recvfrom failed", error);
      reopenIfWoken();
      return;
    }
    const RequestVerdict verdict = ClassifyRequest(buffer, received);
    if (!verdict.accepted) {
      reopenIfWoken();
      return;
    }
    RecordRequestLocked(verdict.key, verdict.valid, interfaceIndex);
    StoreRequestLocked(verdict.key, verdict.valid, std::span(buffer).first(received),
                       interfaceIndex);
    if (m_armed && verdict.key == m_targetKey) {
      // Once decided, the reply goes out even if Disarm comes while it is being sent.
      BuildArmedReplyLocked(buffer);
      generation = m_armGeneration;
      answer = Answer::kArmed;
      // This request is the one answered now.
      m_earlyAnswerPending = false;
    } else {
      const auto host = m_hosts.find(verdict.key);
      if (host == m_hosts.end()) {
        reopenIfWoken();
        return;
      }
      BuildReply(buffer, host->second.ip, host->second.mask, host->second.gateway);
    }
    // Port 67 must be free: every interface's sending socket binds to it.
    CloseSocket(m_socket);
    m_replying = true;
  }
  FinishReply(buffer, answer, generation, interfaceIndex);
}

void BootPServer::FinishReply(std::span<const std::uint8_t> buffer, Answer answer,
                              std::uint64_t generation, int deviceInterface) {
  // The route query and the sends may take a while; table queries must not wait for them.
  const ReplyOutcome outcome = SendReply(buffer, deviceInterface);
  const bool armed = answer != Answer::kListed;
  {
    std::lock_guard lock(m_mutex);
    m_replying = false;
    if (!outcome.message.empty()) m_message = outcome.message;
    // After Stop the socket stays closed and the server stopped.
    if (m_started) SetUpSocket(m_socket);
    // A new arming made while the reply went out is for a new answer: it is left armed.
    if (armed && generation == m_armGeneration) {
      m_replySent = outcome.reachedDevice;
      // After an early answer the device's next request is answered as well, in case the
      // early one came too late for it.
      if (answer == Answer::kArmed) m_armed = false;
    }
  }
  if (!outcome.pending.text.empty()) Report(outcome.pending);
  RecordReply(buffer, outcome, armed);
}

void BootPServer::BuildArmedReplyLocked(std::span<std::uint8_t> buffer) const {
  BuildReply(buffer, ReplyAddress(m_targetIp), ReplyAddress(m_targetMask),
             ReplyAddress(m_targetGateway));
}

void BootPServer::RecordReply(std::span<const std::uint8_t> reply, const ReplyOutcome& outcome,
                              bool armed) {
  const ReplyAddresses addresses = ReadReplyAddresses(reply);
  ReplyRecord record;
  record.macText = FormatMacAddress(ReadDeviceKey(reply));
  record.ipAddress = Ipv4Text(addresses.ipAddress);
  record.subnetMask = Ipv4Text(addresses.subnetMask);
  record.defaultGateway = Ipv4Text(addresses.defaultGateway);
  record.interfaces = outcome.interfaces;
  record.reachedDevice = outcome.reachedDevice;
  record.armed = armed;
  AnswerHandler handler;
  {
    std::lock_guard lock(m_mutex);
    record.time = m_clock();
    m_lastReply = record;
    m_hasLastReply = true;
    handler = m_answerHandler;
  }
  if (handler) handler(record);
}

void BootPServer::GetMessageText(std::string& text) const {
  std::lock_guard lock(m_mutex);
  text = m_message;
}

int BootPServer::GetStartError() const {
  std::lock_guard lock(m_mutex);
  return m_startError;
}

void BootPServer::RecordRequest(DeviceKey key, bool valid) {
  std::lock_guard lock(m_mutex);
  RecordRequestLocked(key, valid);
}

void BootPServer::RecordRequestLocked(DeviceKey key, bool valid, int interfaceIndex) {
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
                                     std::span<const std::uint8_t> request, int interfaceIndex) {
  if (const auto found = m_storedByKey.find(key); found != m_storedByKey.end()) {
    DropStoredRequestLocked(found->second);
  }
  const std::int64_t now = m_clock();
  // Only a device whose latest request was valid is answered at once, and only a listed one
  // can be armed.
  if (valid && m_rowByKey.contains(key)) {
    std::size_t length = request.size();
    while (length > 0 && request[length - 1] == 0) --length;
    m_storedRequests.push_front(
        {key, now, interfaceIndex, {request.begin(), request.begin() + length}});
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
  if (m_armed) return false;
  m_targetMac = std::move(macText);
  m_targetIp = std::move(ipAddress);
  m_targetMask = std::move(subnetMask);
  m_targetGateway = std::move(defaultGateway);
  m_targetKey = ParseMacKey(m_targetMac);
  m_armed = true;
  ++m_armGeneration;
  // A poll after this arming must not see the previous answer's result.
  m_replySent = false;
  m_earlyAnswerPending = EarlyRequestLocked() != nullptr;
  // Only the worker sends; a receive it is blocked in is woken for it.
  if (m_earlyAnswerPending && m_receiving && !m_socketWoken) {
    m_sockets.Shutdown(m_socket);
    m_socketWoken = true;
  }
  return true;
}

bool BootPServer::Disarm() {
  std::lock_guard lock(m_mutex);
  const bool wasArmed = m_armed;
  m_armed = false;
  m_earlyAnswerPending = false;
  return wasArmed;
}

bool BootPServer::IsArmed() const {
  std::lock_guard lock(m_mutex);
  return m_armed;
}

bool BootPServer::WasReplySent() const {
  std::lock_guard lock(m_mutex);
  return m_replySent;
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

BootPServer::ReplyOutcome BootPServer::SendReply(std::span<const std::uint8_t> message,
                                                 int deviceInterface) {
  ReplyOutcome outcome;
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
      outcome.pending = {kRouteQueryFailedText, kRouteQueryFailedCaption};
      rows.clear();
      break;
  }

  const std::uint32_t loopback = LoopbackAddress();
  std::size_t matched = 0;
  std::size_t served = 0;
  std::size_t failures = 0;
  bool deviceRowFound = false;
  bool indexesKnown = false;
  std::string deviceFailure;
  for (const RouteRow& row : rows) {
    // The limited-broadcast host route of one interface; its next hop is that interface's
    // own address.
    if (row.dest != kBroadcastAddress || row.nextHop == loopback || row.mask != kHostMask) {
      continue;
    }
    ++matched;
    indexesKnown = indexesKnown || row.interfaceIndex != 0;
    const bool deviceRow = deviceInterface != 0 && row.interfaceIndex == deviceInterface;
    deviceRowFound = deviceRowFound || deviceRow;
    std::string failure;
    if (ServeRoute(row.nextHop, message, failure)) {
      ++served;
      if (deviceRow) outcome.reachedDevice = true;
    } else {
      if (deviceRow) deviceFailure = failure;
      // A failure on one interface does not stop the others; the text keeps the first.
      if (++failures == 1) outcome.message = std::move(failure);
    }
  }
  outcome.interfaces = served;
  // Where the interface the device asked on, or the interfaces of the rows, are not known,
  // any copy may have reached it.
  if (deviceInterface == 0 || !indexesKnown) {
    deviceInterface = 0;
    outcome.reachedDevice = served > 0;
  }
  if (matched == 0) {
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

bool BootPServer::ServeRoute(std::uint32_t interfaceAddress,
                             std::span<const std::uint8_t> message, std::string& failure) {
  SocketHandle socket = kInvalidSocket;
  if (const int error = m_sockets.Open(socket); error != 0) {
    failure = WithCode("server socket failed", error);
    return false;
  }
  bool sent = false;
  if (const int error = m_sockets.EnableBroadcast(socket); error != 0) {
    failure = WithCode("server setsockopt failed", error);
  } else if (const int error = m_sockets.Bind(socket, interfaceAddress, kServerPort); error != 0) {
    failure = BindFailureText(error);
  } else if (const int error = m_sockets.SendTo(socket, message, kBroadcastAddress, kClientPort);
             error != 0) {
    failure = WithCode("Sendto error", error);
  } else {
    sent = true;
  }
  CloseSocket(socket);
  return sent;
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
