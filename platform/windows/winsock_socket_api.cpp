// Winsock 2 behind SocketApi. One socket, bound to 0.0.0.0:67, receives with WSARecvMsg and
// sends each interface's copy with WSASendMsg, both with IP_PKTINFO: the arrival interface comes
// with every datagram, and every reply names its interface and source address. For the time of
// a send the socket's IP_UNICAST_IF names the interface too: Wine ignores IP_PKTINFO on a send
// (the copy would leave wherever the routes lead, from that interface's address) but honours
// IP_UNICAST_IF, by binding the Linux socket to the interface for that moment; Windows reads
// the option for sends only.
//
// A receive waits on two events, the socket's and a stop event of its own, instead of blocking
// in the socket call: Windows documents no wake-up of a blocked UDP receive by shutdown(), and
// closing the socket under it could hand its handle to another socket.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

constexpr std::uint16_t kWinsockVersion22 = 0x0202;
// A send that finds the socket's buffer full waits for room at most this long per try.
constexpr long kSendWaitMicroseconds = 200 * 1000;
constexpr int kSendTries = 25;

// Winsock's handles are kernel handles, which Windows keeps within 32 bits so that 32- and
// 64-bit processes can share them: the int of SocketHandle holds them, INVALID_SOCKET included.
SOCKET NativeSocket(SocketHandle socket) {
  return static_cast<SOCKET>(static_cast<std::intptr_t>(socket));
}
SocketHandle Handle(SOCKET socket) { return static_cast<SocketHandle>(socket); }
static_assert(static_cast<SocketHandle>(INVALID_SOCKET) == kInvalidSocket);

int LastError() { return ::WSAGetLastError(); }

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = ::htons(port);
  result.sin_addr.s_addr = address;
  return result;
}

// Room for the one control message either direction uses: the datagram's interface.
struct ControlBuffer {
  alignas(WSACMSGHDR) char bytes[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))]{};
};

// What a receive of one socket needs besides the socket: the events it waits on, and
// WSARecvMsg, which Winsock hands out per provider.
class SocketState {
 public:
  SocketState() : m_readable(::WSACreateEvent()), m_stop(::WSACreateEvent()) {}
  ~SocketState() {
    if (m_readable != WSA_INVALID_EVENT) ::WSACloseEvent(m_readable);
    if (m_stop != WSA_INVALID_EVENT) ::WSACloseEvent(m_stop);
  }
  SocketState(const SocketState&) = delete;
  SocketState& operator=(const SocketState&) = delete;

  bool Valid() const { return m_readable != WSA_INVALID_EVENT && m_stop != WSA_INVALID_EVENT; }
  WSAEVENT readable() const { return m_readable; }
  WSAEVENT stop() const { return m_stop; }
  bool Stopped() const { return ::WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0; }

  LPFN_WSARECVMSG recvMsg = nullptr;
  // The outgoing interface is the socket's for the time of one send.
  std::mutex sending;

 private:
  WSAEVENT m_readable;
  WSAEVENT m_stop;
};

// IP_UNICAST_IF for one send: the interface index in network byte order, as Windows reads it
// for IPv4; 0 gives the socket back to the routes. A socket that refuses it still has
// IP_PKTINFO.
class OutgoingInterface {
 public:
  OutgoingInterface(SOCKET socket, int index) : m_socket(socket), m_set(index != 0) {
    if (m_set) Set(::htonl(static_cast<u_long>(index)));
  }
  ~OutgoingInterface() {
    if (m_set) Set(0);
  }
  OutgoingInterface(const OutgoingInterface&) = delete;
  OutgoingInterface& operator=(const OutgoingInterface&) = delete;

 private:
  void Set(DWORD value) {
    ::setsockopt(m_socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&value),
                 sizeof value);
  }

  SOCKET m_socket;
  bool m_set;
};

class WinSocketApi final : public SocketApi {
 public:
  WinSocketApi() {
    // The platform's other users (doctor's checks, the address probe) open sockets without
    // asking for a version first; Startup still asks, and reports, for the server.
    WSADATA data{};
    ::WSAStartup(kWinsockVersion22, &data);
  }

  int Startup(std::uint16_t requestedVersion, std::uint16_t& grantedVersion) override {
    WSADATA data{};
    grantedVersion = 0;
    const int error = ::WSAStartup(requestedVersion, &data);
    if (error != 0) return error;
    grantedVersion = data.wVersion;
    return 0;
  }

  int Open(SocketHandle& socket) override {
    socket = kInvalidSocket;
    const SOCKET native =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (native == INVALID_SOCKET) return LastError();
    auto state = std::make_shared<SocketState>();
    const int error = Prepare(native, *state);
    if (error != 0) {
      ::closesocket(native);
      return error;
    }
    socket = Handle(native);
    std::lock_guard lock(m_mutex);
    m_states[socket] = std::move(state);
    return 0;
  }

  int EnableBroadcast(SocketHandle socket) override {
    const BOOL on = TRUE;
    return ::setsockopt(NativeSocket(socket), SOL_SOCKET, SO_BROADCAST,
                        reinterpret_cast<const char*>(&on), sizeof on) == SOCKET_ERROR
               ? LastError()
               : 0;
  }

  int SetReceiveBuffer(SocketHandle socket, int bytes, int& granted) override {
    granted = 0;
    const SOCKET native = NativeSocket(socket);
    if (::setsockopt(native, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof bytes) == SOCKET_ERROR) {
      return LastError();
    }
    int length = sizeof granted;
    return ::getsockopt(native, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted),
                        &length) == SOCKET_ERROR
               ? LastError()
               : 0;
  }

  int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) override {
    const sockaddr_in local = MakeAddress(address, port);
    return ::bind(NativeSocket(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) ==
                   SOCKET_ERROR
               ? LastError()
               : 0;
  }

  int ReceiveMany(SocketHandle socket, std::span<ReceivedDatagram> datagrams,
                  std::size_t& count) override {
    count = 0;
    if (datagrams.empty()) return 0;
    const std::shared_ptr<SocketState> state = StateOf(socket);
    if (!state) return WSAENOTSOCK;
    const SOCKET native = NativeSocket(socket);
    // The first datagram is waited for; the ones already behind it are taken as they are.
    for (;;) {
      if (state->Stopped()) return Stopped(datagrams, count);
      const int error = ReceiveOne(native, *state, datagrams[0]);
      if (error == 0) break;
      // A stop that came between the check above and this receive fails it with
      // WSAESHUTDOWN; it is still the stop, and ends the receive as one.
      if (state->Stopped()) return Stopped(datagrams, count);
      if (error != WSAEWOULDBLOCK) return error;
      const std::array<WSAEVENT, 2> waitFor = {state->stop(), state->readable()};
      const DWORD woke = ::WSAWaitForMultipleEvents(static_cast<DWORD>(waitFor.size()),
                                                    waitFor.data(), FALSE, WSA_INFINITE, FALSE);
      if (woke == WSA_WAIT_FAILED) return LastError();
      if (woke == WSA_WAIT_EVENT_0) return Stopped(datagrams, count);
      // Clears the socket's event; the next receive finds what set it.
      WSANETWORKEVENTS happened{};
      ::WSAEnumNetworkEvents(native, state->readable(), &happened);
    }
    count = 1;
    while (count < datagrams.size()) {
      const int error = ReceiveOne(native, *state, datagrams[count]);
      if (error == WSAEWOULDBLOCK) break;
      // The ones taken are reported; the failure comes again with the next receive.
      if (error != 0) break;
      ++count;
    }
    return 0;
  }

  int SendFrom(SocketHandle socket, std::span<const std::uint8_t> data, std::uint32_t source,
               int interfaceIndex, std::uint32_t address, std::uint16_t port) override {
    sockaddr_in target = MakeAddress(address, port);
    WSABUF payload{static_cast<ULONG>(data.size()),
                   reinterpret_cast<char*>(const_cast<std::uint8_t*>(data.data()))};
    ControlBuffer control;
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&target);
    message.namelen = sizeof target;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    message.Control = {sizeof control.bytes, control.bytes};
    // The interface and the source address ride with the datagram, so one socket bound to
    // port 67 sends each interface's copy as a socket bound to that interface's address would.
    WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = source;
    info.ipi_ifindex = static_cast<ULONG>(interfaceIndex);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    const SOCKET native = NativeSocket(socket);
    const std::shared_ptr<SocketState> state = StateOf(socket);
    if (!state) return WSAENOTSOCK;
    std::lock_guard lock(state->sending);
    const OutgoingInterface outgoing(native, interfaceIndex);
    for (int tries = 1;; ++tries) {
      DWORD sent = 0;
      if (::WSASendMsg(native, &message, 0, &sent, nullptr, nullptr) == 0) return 0;
      const int error = LastError();
      // The socket does not block (its receive waits on events): a full send buffer is waited
      // out here, as a blocking send would.
      if (error != WSAEWOULDBLOCK || tries == kSendTries) return error;
      fd_set writable;
      FD_ZERO(&writable);
      FD_SET(native, &writable);
      timeval wait{0, kSendWaitMicroseconds};
      ::select(0, nullptr, &writable, nullptr, &wait);
    }
  }

  int SourceToward(std::uint32_t address, std::uint16_t port, std::uint32_t& source) override {
    source = 0;
    // Connecting a datagram socket only asks the routes; nothing leaves.
    const SOCKET probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe == INVALID_SOCKET) return LastError();
    const sockaddr_in target = MakeAddress(address, port);
    sockaddr_in local{};
    int length = sizeof local;
    int error = 0;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = LastError();
    }
    ::closesocket(probe);
    if (error == 0) source = local.sin_addr.s_addr;
    return error;
  }

  void Shutdown(SocketHandle socket) override {
    if (const auto state = StateOf(socket)) ::WSASetEvent(state->stop());
    ::shutdown(NativeSocket(socket), SD_RECEIVE);
  }

  void Close(SocketHandle socket) override {
    {
      std::lock_guard lock(m_mutex);
      m_states.erase(socket);
    }
    ::closesocket(NativeSocket(socket));
  }

 private:
  // Sets on a new socket what every receive relies on.
  static int Prepare(SOCKET native, SocketState& state) {
    if (!state.Valid()) return LastError();
    // Every datagram then tells the interface it came in on, which is where its sender can be
    // reached again.
    const DWORD on = 1;
    if (::setsockopt(native, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
                     sizeof on) == SOCKET_ERROR) {
      return LastError();
    }
    // Windows reports an ICMP port unreachable for an earlier send as a failure of the next
    // receive (10054); a server's receive must not fail for what a client's port did.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(native, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
               nullptr);
    GUID recvMsgId = WSAID_WSARECVMSG;
    if (::WSAIoctl(native, SIO_GET_EXTENSION_FUNCTION_POINTER, &recvMsgId, sizeof recvMsgId,
                   &state.recvMsg, sizeof state.recvMsg, &returned, nullptr,
                   nullptr) == SOCKET_ERROR) {
      return LastError();
    }
    // Also makes the socket non-blocking: a receive waits on the events instead.
    if (::WSAEventSelect(native, state.readable(), FD_READ) == SOCKET_ERROR) return LastError();
    return 0;
  }

  std::shared_ptr<SocketState> StateOf(SocketHandle socket) {
    std::lock_guard lock(m_mutex);
    const auto found = m_states.find(socket);
    return found == m_states.end() ? nullptr : found->second;
  }

  // As on Linux after shutdown: one datagram of no bytes, at once.
  static int Stopped(std::span<ReceivedDatagram> datagrams, std::size_t& count) {
    datagrams[0].length = 0;
    datagrams[0].interfaceIndex = 0;
    datagrams[0].oversize = false;
    count = 1;
    return 0;
  }

  // Takes one waiting datagram into `datagram`, or fails with WSAEWOULDBLOCK when none waits.
  static int ReceiveOne(SOCKET native, const SocketState& state, ReceivedDatagram& datagram) {
    sockaddr_in from{};
    WSABUF buffer{static_cast<ULONG>(datagram.buffer.size()),
                  reinterpret_cast<char*>(datagram.buffer.data())};
    ControlBuffer control;
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    message.Control = {sizeof control.bytes, control.bytes};
    DWORD received = 0;
    const bool failed =
        state.recvMsg(native, &message, &received, nullptr, nullptr) == SOCKET_ERROR;
    const int error = failed ? LastError() : 0;
    // A datagram longer than the buffer is cut, and its bytes must not be used: Windows says
    // so with WSAEMSGSIZE, or with a flag.
    const bool cut = error == WSAEMSGSIZE || (message.dwFlags & (MSG_TRUNC | MSG_PARTIAL)) != 0;
    if (failed && !cut) return error;
    datagram.oversize = cut;
    datagram.length = cut ? 0 : received;
    datagram.interfaceIndex = ArrivalInterface(message);
    return 0;
  }

  static int ArrivalInterface(WSAMSG& message) {
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
        IN_PKTINFO info{};
        std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
        return static_cast<int>(info.ipi_ifindex);
      }
    }
    return 0;
  }

  std::mutex m_mutex;
  std::map<SocketHandle, std::shared_ptr<SocketState>> m_states;
};

}  // namespace

SocketApi& SystemSocketApi() {
  static WinSocketApi api;
  return api;
}

// Windows grants any size asked for; what caps it under Wine is Linux's limit, not Windows'.
bool ReceiveBufferCappedBySysctl() { return false; }

}  // namespace quillnet
