#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
    return socket < 0 ? LastError() : 0;
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

  int ReceiveFrom(SocketHandle socket, std::span<std::uint8_t> buffer,
                  std::size_t& received) override {
    received = 0;
    ssize_t length = 0;
    // A signal handled on this thread interrupts the wait without ending it; Stop's shutdown
    // makes the call return 0, not EINTR, so it still ends the receive.
    do {
      sockaddr_in sender{};
      socklen_t senderLength = sizeof sender;
      // MSG_TRUNC makes the call return the datagram's full length, so an oversize datagram
      // is told apart from one that exactly fills the buffer.
      length = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_TRUNC,
                          reinterpret_cast<sockaddr*>(&sender), &senderLength);
    } while (length < 0 && errno == EINTR);
    if (length < 0) return LastError();
    if (static_cast<std::size_t>(length) > buffer.size()) return kWsaEmsgsize;
    received = static_cast<std::size_t>(length);
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
