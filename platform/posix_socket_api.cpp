#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

  int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) override {
    const sockaddr_in local = MakeAddress(address, port);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0
               ? LastError()
               : 0;
  }

  int ReceiveFrom(SocketHandle socket, std::span<std::uint8_t> buffer, std::size_t& received,
                  int& interfaceIndex) override {
    received = 0;
    interfaceIndex = 0;
    ssize_t length = 0;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    // A signal handled on this thread interrupts the wait without ending it; Stop's shutdown
    // makes the call return 0, not EINTR, so it still ends the receive.
    do {
      sockaddr_in sender{};
      iovec data{buffer.data(), buffer.size()};
      message = {};
      message.msg_name = &sender;
      message.msg_namelen = sizeof sender;
      message.msg_iov = &data;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      // MSG_TRUNC makes the call return the datagram's full length, so an oversize datagram
      // is told apart from one that exactly fills the buffer.
      length = ::recvmsg(socket, &message, MSG_TRUNC);
    } while (length < 0 && errno == EINTR);
    if (length < 0) return LastError();
    if (static_cast<std::size_t>(length) > buffer.size()) return kWsaEmsgsize;
    received = static_cast<std::size_t>(length);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(header), sizeof info);
        interfaceIndex = info.ipi_ifindex;
      }
    }
    return 0;
  }

  int SendTo(SocketHandle socket, std::span<const std::uint8_t> data, std::uint32_t address,
             std::uint16_t port) override {
    const sockaddr_in target = MakeAddress(address, port);
    const ssize_t sent = ::sendto(socket, data.data(), data.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent < 0 ? LastError() : 0;
  }

  void Shutdown(SocketHandle socket) override { ::shutdown(socket, SHUT_RDWR); }

  void Close(SocketHandle socket) override { ::close(socket); }

 private:
  static int LastError() { return WinsockErrorFromErrno(errno); }
};

}  // namespace

SocketApi& SystemSocketApi() {
  static PosixSocketApi api;
  return api;
}

}  // namespace quillnet
