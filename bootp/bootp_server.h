#pragma once

#include <cstddef>
#include <cstdint>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bootp/answer_policy.h"
#include "bootp/arming.h"
#include "bootp/kept_requests.h"
#include "bootp/reply_sender.h"
#include "bootp/request_table.h"
#include "platform/network_info.h"
#include "platform/socket_api.h"
#include "wire/dhcp.h"
#include "wire/message.h"

namespace quillnet {

// The BOOTP server of one run: the listening socket on port 67, the table of devices heard,
// the one armed reply and the replies to listed devices. The facade the pages and the CLI use;
// its parts are the request table (RequestTable), the kept requests (KeptRequests), the answer
// policy (answer_policy.h), the arming (Arming) and the reply sender (ReplySender).
//
// A request that carries a DHCP message type is answered in DHCP: a DISCOVER with an offer, a
// REQUEST for the device's address with an ack, a REQUEST for another address with a nak (the
// device starts over and is offered its address). An offer or a nak leaves the server armed;
// the ack ends the arming, as the BOOTP reply does. A DECLINE from the armed device ends the
// arming as a failure: it found the address in use; so does a REQUEST that takes another
// server's offer. After its answer the armed device is still answered, with the same
// addresses, until Disarm: a device that reboots while it is being checked asks again. A
// request that came through a relay agent is answered through it (see ReplySender).
//
// Listen runs the receive loop on a thread of the server's own: ServiceOneRequest, which
// drains the listening socket and records what it took, one batch after another until Stop.
// A reply to a server that was idle leaves at once from that thread: a
// hand-over to another thread costs a wake-up, which on a virtual machine costs more than the
// send. While replies wait or go out, the worker hands further ones to the server's own sender
// thread, so a burst of arrivals never waits for the sends. Either sends each reply through
// the listening socket, naming the interface and its address: the socket stays open and bound
// to port 67 for the server's whole life, so no request queued on it is lost and no other
// program can take the port between two replies. One thread sends at a time, so the handlers
// are called one at a time and in the order things happened.
//
// One lock guards all of the server's state, so the worker, the sender and the user-interface
// thread that reads the table and arms the server may call it at the same time. The lock is
// only held for short updates and queries: never across the blocking receive, nor across a
// reply's route query and sends, so a query from the user-interface thread never waits for
// the network.
//
// Memory is bounded: the kernel keeps at most kReceiveBufferBytes of waiting datagrams (or
// the system's limit, net.core.rmem_max, when that is lower and the process may not pass
// it); the worker holds one batch of kReceiveBatch buffers of kMessageBufferSize bytes; at
// most kMaxPendingReplies replies to listed devices wait for the sender (about 1 KiB each;
// the armed device's reply is never dropped); the table holds at most kMaxRows devices and
// the kept requests at most kStoredRequestBudget bytes.
class BootPServer {
 public:
  static constexpr std::uint16_t kServerPort = ReplySender::kServerPort;
  static constexpr std::uint16_t kClientPort = ReplySender::kClientPort;
  static constexpr std::size_t kMaxRows = RequestTable::kMaxRows;
  // Arming answers the device's latest request at once when that request was valid and came
  // at most this many seconds ago (see KeptRequests).
  static constexpr std::int64_t kEarlyAnswerSeconds = KeptRequests::kEarlyAnswerSeconds;
  static constexpr std::size_t kStoredRequestBudget = KeptRequests::kBudget;
  static constexpr std::size_t kHeardInterfaces = RequestTable::kHeardInterfaces;
  // Room for a burst of requests while the worker is not draining: about 3,000 datagrams of
  // a 300-byte request as the kernel counts them.
  static constexpr int kReceiveBufferBytes = 8 << 20;
  // Datagrams one receive takes from the socket.
  static constexpr std::size_t kReceiveBatch = 64;
  // Replies to listed devices waiting for the sender; one more is dropped (the device asks
  // again), so a flood cannot grow the queue.
  static constexpr std::size_t kMaxPendingReplies = 4096;

  using Clock = std::function<std::int64_t()>;
  // Receives a failure that needs the user's attention (text, caption). Called on the thread
  // that sends (the worker's or the sender's) without the server's lock held.
  using ErrorHandler = std::function<void(const std::string& text, const std::string& caption)>;

  // The addresses one listed device is answered with, as texts (read as Arm's are).
  struct HostEntry {
    std::string macText;
    std::string ipAddress;
    std::string subnetMask;
    std::string defaultGateway;
  };
  // One reply that went out, or was attempted; the MAC and the addresses are read back from
  // the reply's bytes, so they are what the device was sent.
  struct ReplyRecord {
    std::string macText;
    std::string ipAddress;
    std::string subnetMask;
    std::string defaultGateway;
    std::size_t interfaces = 0;  // the interfaces it left through; 0: not sent
    std::vector<std::string> interfaceNames;  // their names, in the order sent
    // A copy left through the interface the request came in on (any copy, where that
    // interface is not known), or to the relay agent it came through: only then can the
    // device have it.
    bool reachedDevice = false;
    // The relay agent the device asked through, which the reply went to; empty when it asked
    // on one of this PC's networks and the reply was broadcast there.
    std::string relay;
    bool armed = false;  // the answer to the arming, not to a listed device
    std::uint64_t arming = 0;  // which arming (see GetArming); 0 for a listed device
    // The answer at once to the request the device made before the arming.
    bool early = false;
    // A BOOTP reply or an ack: it gives the device its address. An offer or a nak is a step
    // on the way.
    bool final = false;
    // The interface the request came in on; 0 when not known.
    int heardInterface = 0;
    std::int64_t time = 0;       // seconds since 1970, from the server's clock
    // kBootpMessage for a BOOTP reply, else kDhcpOffer, kDhcpAck or kDhcpNak.
    std::uint8_t messageType = kBootpMessage;
    // Why a copy did not leave, as the message text says it; empty when every one did.
    std::string failure;
  };
  // A device said, with a DHCP DECLINE, that the address it was given is in use; or, with a
  // REQUEST that names another server, that it takes that server's offer instead.
  struct DeclineRecord {
    std::string macText;
    std::string ipAddress;
    bool armed = false;  // the armed device, not a listed one
    std::uint64_t arming = 0;  // which arming; 0 for a listed device
    std::int64_t time = 0;
    // The server whose offer it took; empty for a DECLINE.
    std::string otherServer;
  };
  // What the receive step dropped or could not keep, counted since construction, so that a
  // caller can say it as it happens: no request stops the server, and each one goes unseen
  // otherwise.
  struct Notices {
    // Datagrams longer than kMessageBufferSize: no BOOTP or DHCP request is that long.
    std::uint64_t oversizeDatagrams = 0;
    // Other receive failures; `lastReceiveFailure` is the last one's message text.
    std::uint64_t receiveFailures = 0;
    std::string lastReceiveFailure;
    // Requests whose giaddr names no relay agent a reply may go to (see CheckRelay): neither
    // recorded nor answered. The last one's device, giaddr and what that address is.
    std::uint64_t refusedRelays = 0;
    std::string lastRefusedMac;
    std::string lastRefusedRelay;
    std::string lastRefusedWhy;
    // The table holds kMaxRows devices: requests of further devices are not recorded (a
    // listed or armed one is still answered).
    bool tableFull = false;
    std::uint64_t unrecordedRequests = 0;
  };
  // What the armed device itself said of its address, in DHCP.
  using DeviceVerdict = Arming::Verdict;
  // Receives every reply. Called on the thread that sent it, the worker's or the sender's, one
  // call at a time, without the server's lock held.
  using AnswerHandler = std::function<void(const ReplyRecord&)>;
  // Receives every decline, of the armed device or a listed one. Called as the answer handler
  // without the server's lock held, in its place among the replies: after every reply that
  // was queued before the decline arrived, so a device's ack is reported before the decline
  // that followed it.
  using DeclineHandler = std::function<void(const DeclineRecord&)>;

  // On this machine's sockets and routes.
  BootPServer();
  // On the given sockets and routes; `clock` gives the seconds since 1970 (the system
  // clock when empty). `adapters` gives this PC's addresses, which no relay agent has; none
  // known without it.
  BootPServer(SocketApi& sockets, RouteSource& routes, Clock clock = {},
              AdapterSource* adapters = nullptr);
  virtual ~BootPServer();

  BootPServer(const BootPServer&) = delete;
  BootPServer& operator=(const BootPServer&) = delete;

  // Sockets and receive step.
  bool IsStarted() const;
  // Opens the listening socket and starts the sender. Fails, touching no socket, once the
  // server has been stopped.
  bool Start();
  // Started and listening.
  bool IsRunning() const;
  // Runs the receive loop on a thread of the server's own, as the sender runs on its, and
  // returns at once. The loop starts the server first unless it listens, so the caller never
  // waits for port 67; then it services one batch of requests after another until Stop, or
  // until the server no longer listens. While a loop runs, another call does nothing; once it
  // has ended (its start failed, say, because port 67 was taken), a call starts a new one,
  // which tries the start again.
  void Listen();
  // A loop started by Listen is still starting the server: whether it listens is not known
  // yet.
  bool IsStarting() const;
  // Waits for a datagram, then takes every one waiting behind it (up to kReceiveBatch),
  // records the accepted requests and answers each that is to be answered: the armed
  // device's, or a listed device's. A request that passed more than kMaxHops relay agents is
  // dropped. The one reply to an idle server is sent before this returns; others go to the
  // sender.
  void ServiceOneRequest();
  // Waits until the sender has sent every reply handed to it so far, or has ended; false when
  // `limit` passed first.
  bool WaitForReplies(std::chrono::milliseconds limit) const;
  void GetMessageText(std::string& text) const;
  // Forgets a message text that an assignment left (a reply that could not be sent, a
  // decline, another server's offer taken): it belongs to that assignment. A failure to start
  // or to receive stays. Arm does this too.
  void ClearAssignmentMessage();
  // The Winsock code of the last failure to open the listening socket (0 after a successful
  // Start), so a caller can add advice for a failure such as a missing permission.
  int GetStartError() const;
  Notices GetNotices() const;
  // Ends the run of the server for good: wakes a receive blocked in ServiceOneRequest, which
  // then returns without a report, waits until the receive loop has ended and the replies
  // already handed to the sender have gone out, and closes the listening socket once the
  // receive has left it. A thread of the caller's own that runs ServiceOneRequest is joined
  // after this and before the server is destroyed.
  void Stop();

  // Request table.
  bool IsTableUpdated() const;
  int GetRequestCount() const;
  std::string GetMacText(int row) const;
  int GetCount(int row) const;
  bool IsValid(int row) const;
  std::string GetLastRequestTimeText(int row) const;
  // The type of the row's latest request: kBootpMessage, or its DHCP message type.
  std::uint8_t GetMessageType(int row) const;
  // The table's revision grows with every recorded request. Puts the rows recorded after
  // revision `since` into `rows` (each once, most recent first; every row for 0) and returns
  // the current revision. Costs time in proportion to the rows returned.
  std::uint64_t GetChangedRows(std::uint64_t since, std::vector<int>& rows) const;
  // The same, each row as one look saw it, under one lock.
  using DeviceRow = RequestTable::Snapshot;
  std::uint64_t GetChangedRows(std::uint64_t since, std::vector<DeviceRow>& rows) const;
  // A request time as the table's queries show it: local time, "%H:%M:%S".
  static std::string RequestTimeText(std::int64_t seconds);
  // A relay agent's address as the queries show it: dotted; empty for none (0).
  static std::string RelayText(std::uint32_t relay);
  // The relay agent the device's latest request came through, as dotted text; empty when it
  // asked on one of this PC's networks, or was not heard.
  std::string GetRelayOf(DeviceKey device) const;
  // The indexes of the interfaces the device was last heard on, most recent first; empty
  // when it was not heard or the interfaces were not known.
  std::vector<int> GetHeardInterfaces(DeviceKey device) const;
  // Whether the interface with this index can send a reply now, and its name; none when the
  // routes cannot be read. Reads the routes without the server's lock.
  std::optional<ReplySender::LinkState> GetLinkState(int index) const;

  // Arming and the reply.
  // Arms the server for one device; false when it is armed already, or when the IP address or
  // the mask, or a gateway that is not empty, does not read as an address. A new arming clears
  // WasReplySent. When the device's latest request is one to answer at once (see
  // kEarlyAnswerSeconds), the sender answers it at once with the same reply the request would
  // have had on arrival; the server stays armed, so the device's next request is answered
  // too, and WasReplySent tells whether the early reply went out. Armed stays true until the
  // answer to a request has been sent; after that each request of the device is answered
  // again, with the same addresses, until Disarm.
  bool Arm(std::string macText, std::string ipAddress, std::string subnetMask,
           std::string defaultGateway);
  // A reply already handed to the sender still goes out. Ends the watch for a decline too.
  bool Disarm();
  bool IsArmed() const;
  // Counts the armings; the records of replies and declines name the one they belong to.
  std::uint64_t GetArming() const;
  // Whether the last answer to the last arming left through the interface the device asked
  // on (see ReplyRecord::reachedDevice); when it did not, the message text says why.
  bool WasReplySent() const;
  // Kept from the arming until Disarm: a device that declines the address after its ack
  // (having found it in use) turns kAccepted into kDeclined, and the message text says so.
  DeviceVerdict GetDeviceVerdict() const;

  // Listed devices: a request from one of them that is not the armed device's is answered
  // with its entry, through the same reply as the armed one; the server stays as armed as it
  // was. Replaces the whole list; a later entry for the same device replaces an earlier one.
  void SetHosts(const std::vector<HostEntry>& hosts);
  // The last reply sent or attempted; false when there has been none.
  bool GetLastReply(ReplyRecord& record) const;
  void SetAnswerHandler(AnswerHandler handler);
  void SetDeclineHandler(DeclineHandler handler);

  void SetErrorHandler(ErrorHandler handler);

 private:
  // A reply waiting for the sender.
  struct PendingReply {
    std::array<std::uint8_t, kMessageBufferSize> bytes{};
    std::size_t length = kMessageBufferSize;  // the bytes sent
    std::uint8_t messageType = kBootpMessage;  // a DHCP reply gets each interface's identifier
    // How the answer counts for the arming it answers; none for a listed device.
    std::optional<Arming::Answer> armed;
    std::uint64_t generation = 0;  // the arming it answers
    int deviceInterface = 0;       // where the request came in; 0 when not known
    bool final = false;            // a BOOTP reply or an ack
    bool early = false;            // the answer at once to the request before the arming
    // Not a reply but a device's word, reported in its place among the replies.
    std::optional<DeclineRecord> notice;
  };
  using Batch = std::deque<PendingReply>;

  // How long a look at this PC's addresses serves the relay check: a flood of relayed
  // requests costs one look a second, and a new address counts within a second.
  static constexpr std::chrono::seconds kOwnNetworksMaxAge{1};

  // Reads this PC's addresses when the last look is older than kOwnNetworksMaxAge, for the
  // relay check of the batch of `count` datagrams; only when one of them came through a relay.
  // Runs on the worker without m_mutex.
  void LookAtOwnNetworks(std::size_t count);

  // These run with m_mutex held.
  bool SetUpSocket(SocketHandle& socket);
  bool CloseSocket(SocketHandle& socket);
  // Records one received datagram and queues its reply, if it gets one.
  void TakeDatagramLocked(std::span<std::uint8_t> buffer, const ReceivedDatagram& datagram);
  // What the server holds for the device `key`, for the answer policy.
  PolicyRows RowsLocked(DeviceKey key) const;
  // Acts on the policy's answer to `request` (a buffer of kMessageBufferSize bytes).
  void AnswerLocked(std::span<const std::uint8_t> request, const PolicyRequest& policyRequest,
                    int interfaceIndex, bool early);
  void DeclineLocked(DeviceKey key, std::uint32_t ip, bool armed);
  // The armed device took another server's offer, named in `serverId`.
  void OtherServerLocked(std::uint32_t serverId);
  // Queues a device's word for the sender, which reports it after the replies before it.
  void QueueNoticeLocked(DeclineRecord record);
  void SetServerMessageLocked(std::string text);
  void SetAssignmentMessageLocked(std::string text);
  void ClearAssignmentMessageLocked();
  // Whoever sends next: the sender thread, woken, unless a send is under way.
  void WakeSenderLocked();

  // The receive thread of Listen.
  void ReceiveLoop();
  // The sender thread: sends the queued replies until Stop.
  void SendLoop();
  // Sends a batch, reporting each reply and notice; takes m_mutex itself, only briefly.
  void SendBatch(SocketHandle socket, const Batch& batch);
  // Keeps the interface addresses of a look at the routes; takes m_mutex itself.
  void KeepServerIds(const ReplySender::Routes& routes);
  // Records the outcome of one reply, keeps its record and hands it to the answer handler;
  // takes m_mutex itself.
  void FinishReply(const PendingReply& reply, const ReplySender::Outcome& outcome);
  // Take m_mutex only to read the handler; call it without the lock.
  void Report(const std::string& text, const std::string& caption) const;
  void ReportNotice(const DeclineRecord& record) const;
  // The record of a reply, read back from its bytes; its time is set when it is kept.
  static ReplyRecord MakeReplyRecord(const PendingReply& reply,
                                     const ReplySender::Outcome& outcome);

  SocketApi& m_sockets;
  Clock m_clock;
  AdapterSource* m_adapters = nullptr;
  // Used by one sending thread at a time (m_sending).
  ReplySender m_sender;

  mutable std::mutex m_mutex;
  SocketHandle m_socket = kInvalidSocket;
  bool m_winsockReady = false;
  int m_startupError = 0;
  int m_startError = 0;
  std::string m_message;
  bool m_started = false;
  // Stop came: the server never starts again.
  bool m_stopped = false;
  // A receive, or the worker's send, or the sender, use m_socket; Stop leaves the close to
  // the last of them.
  bool m_receiving = false;
  bool m_senderRunning = false;
  // A loop of Listen runs, and is still starting the server.
  bool m_loopRunning = false;
  bool m_loopStarting = false;
  // A batch of replies is being sent, by the sender or by the worker (m_workerSending), on
  // m_sendingThread.
  bool m_sending = false;
  bool m_workerSending = false;
  std::thread::id m_sendingThread;
  Arming m_arming;
  // m_message was left by an assignment, not by a failure to start or to receive.
  bool m_assignmentMessage = false;
  // The text the last reply that could not leave put there.
  std::string m_replyFailure;
  RequestTable m_table;
  KeptRequests m_kept;
  ErrorHandler m_errorHandler;
  // Listed devices, by key; the armed device is answered first.
  std::unordered_map<DeviceKey, Assignment> m_hosts;
  bool m_hasLastReply = false;
  ReplyRecord m_lastReply;
  AnswerHandler m_answerHandler;
  DeclineHandler m_declineHandler;
  // This PC's addresses, as server identifiers: the interfaces' from the last look at the
  // routes, and those replies to relay agents left from.
  std::vector<std::uint32_t> m_serverIds;
  std::vector<std::uint32_t> m_relaySources;

  Notices m_notices;

  // The worker's receive buffers and its look at this PC's addresses; only the thread in
  // ServiceOneRequest touches them.
  std::vector<std::uint8_t> m_receiveBuffers;
  std::vector<ReceivedDatagram> m_datagrams;
  std::vector<OwnNetwork> m_ownNetworks;
  std::optional<std::chrono::steady_clock::time_point> m_ownNetworksRead;

  Batch m_pendingReplies;
  std::size_t m_listedRepliesPending = 0;
  // Wakes the sender (a reply queued, a send ended, or Stop) and the callers of
  // WaitForReplies (the queue went empty with no batch being sent).
  mutable std::condition_variable m_senderWake;
  mutable std::condition_variable m_repliesDone;
  std::thread m_senderThread;
  std::thread m_receiveThread;
};

}  // namespace quillnet
