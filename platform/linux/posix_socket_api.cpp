#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "helper/protocol.h"
#include "platform/net_helper.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

constexpr std::uint16_t kWinsockVersion22 = 0x0202;

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr.s_addr = address;
  return result;
}

class PosixSocketApi final : public SocketApi {
 public:
  int Startup(std::uint16_t requestedVersion, std::uint16_t& grantedVersion) override {
    // POSIX sockets need no start-up; they behave as the version asked for.
    grantedVersion = requestedVersion == kWinsockVersion22 ? kWinsockVersion22 : 0;
    return grantedVersion == 0 ? kWsaEinval : 0;
  }

  int Open(SocketHandle& socket) override {
    socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return LastError();
    // Every datagram then tells the interface it came in on, which is where its sender can
    // be reached again.
    const int on = 1;
    if (::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0) {
      const int error = LastError();
      ::close(socket);
      socket = kInvalidSocket;
      return error;
    }
    return 0;
  }

  int EnableBroadcast(SocketHandle socket) override {
    // Linux reads at least an int for SO_BROADCAST; the value is one, as Winsock's one byte.
    const int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0 ? LastError() : 0;
  }

  int SetReceiveBuffer(SocketHandle socket, int bytes, int& granted) override {
    granted = 0;
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN; SO_RCVBUF stops there.
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) < 0 &&
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) < 0) {
      return LastError();
    }
    socklen_t length = sizeof granted;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length) < 0) return LastError();
    // Linux reports twice what it grants, its bookkeeping included (socket(7)); the size is
    // given in the request's terms, so that a capped request never reads as granted.
    granted /= 2;
    return 0;
  }

  int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) override {
    const sockaddr_in local = MakeAddress(address, port);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return 0;
    // Without cap_net_bind_service the helper, which holds it, binds the server's port.
    if (errno != EACCES || address != INADDR_ANY || port != helper::kBootpServerPort) {
      return LastError();
    }
    return BindThroughHelper(socket);
  }

  int ReceiveMany(SocketHandle socket, std::span<ReceivedDatagram> datagrams,
                  std::size_t& count) override {
    count = 0;
    if (datagrams.empty()) return 0;
    const std::size_t batch = std::min(datagrams.size(), kMaxBatch);
    std::array<mmsghdr, kMaxBatch> headers{};
    std::array<iovec, kMaxBatch> data{};
    std::array<ControlBuffer, kMaxBatch> controls;
    for (std::size_t i = 0; i < batch; ++i) {
      data[i] = {datagrams[i].buffer.data(), datagrams[i].buffer.size()};
      headers[i].msg_hdr.msg_iov = &data[i];
      headers[i].msg_hdr.msg_iovlen = 1;
      headers[i].msg_hdr.msg_control = controls[i].bytes;
      headers[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
    }
    int received = 0;
    // MSG_WAITFORONE blocks for the first datagram only. MSG_TRUNC makes each length the
    // datagram's full length, so an oversize datagram is told apart from one that exactly
    // fills its buffer. A signal handled on this thread interrupts the wait without ending
    // it; Stop's shutdown makes the call return empty datagrams, not EINTR.
    do {
      received = ::recvmmsg(socket, headers.data(), static_cast<unsigned>(batch),
                            MSG_WAITFORONE | MSG_TRUNC, nullptr);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return LastError();
    for (std::size_t i = 0; i < static_cast<std::size_t>(received); ++i) {
      ReceivedDatagram& datagram = datagrams[i];
      const std::size_t length = headers[i].msg_len;
      datagram.oversize = length > datagram.buffer.size();
      datagram.length = datagram.oversize ? 0 : length;
      datagram.interfaceIndex = ArrivalInterface(headers[i].msg_hdr);
    }
    count = static_cast<std::size_t>(received);
    return 0;
  }

  int SendFrom(SocketHandle socket, std::span<const std::uint8_t> data, std::uint32_t source,
               int interfaceIndex, std::uint32_t address, std::uint16_t port) override {
    sockaddr_in target = MakeAddress(address, port);
    iovec payload{const_cast<std::uint8_t*>(data.data()), data.size()};
    ControlBuffer control;
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    // The interface and the source address ride with the datagram, so one socket bound to
    // port 67 sends each interface's copy as a socket bound to that interface's address would.
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = interfaceIndex;
    info.ipi_spec_dst.s_addr = source;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    ssize_t sent = 0;
    do {
      sent = ::sendmsg(socket, &message, 0);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? LastError() : 0;
  }

  int SourceToward(std::uint32_t address, std::uint16_t port, std::uint32_t& source) override {
    source = 0;
    // Connecting a datagram socket only asks the routes; nothing leaves.
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return LastError();
    const sockaddr_in target = MakeAddress(address, port);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    int error = 0;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) < 0) {
      error = LastError();
    }
    ::close(probe);
    if (error == 0) source = local.sin_addr.s_addr;
    return error;
  }

  void Shutdown(SocketHandle socket) override { ::shutdown(socket, SHUT_RD); }

  void Close(SocketHandle socket) override { ::close(socket); }

 private:
  // Room for the one control message either direction uses: the datagram's interface.
  struct ControlBuffer {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))]{};
  };
  static constexpr std::size_t kMaxBatch = 64;

  static int LastError() { return WinsockErrorFromErrno(errno); }

  // Puts the helper's bound socket in place of `socket`, so the caller keeps its descriptor,
  // then sets again what Open set on the socket it replaces.
  static int BindThroughHelper(SocketHandle socket) {
    NetHelperFailure failure;
    const int bound = OpenBootpSocketThroughHelper(failure);
    if (bound < 0) return failure.error;
    const int moved = ::dup3(bound, socket, O_CLOEXEC);
    const int error = errno;
    ::close(bound);
    if (moved < 0) return WinsockErrorFromErrno(error);
    const int on = 1;
    return ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0 ? LastError() : 0;
  }

  static int ArrivalInterface(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(header), sizeof info);
        return info.ipi_ifindex;
      }
    }
    return 0;
  }
};

}  // namespace

SocketApi& SystemSocketApi() {
  static PosixSocketApi api;
  return api;
}

bool ReceiveBufferCappedBySysctl() { return true; }

}  // namespace quillnet
