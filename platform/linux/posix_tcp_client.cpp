#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/tcp_client.h"

namespace quillnet {
namespace {

// How often a wait looks at the cancel flag.
constexpr std::chrono::milliseconds kCancelSlice{50};

int TcpErrorFromErrno(int error) {
  switch (error) {
    case ETIMEDOUT: return tcp_error::kTimedOut;
    case ECONNABORTED: return tcp_error::kConnectionAborted;
    case ENOTCONN: return tcp_error::kNotConnected;
    case EPIPE: return kWsaEconnreset;
    default: return WinsockErrorFromErrno(error);
  }
}

int LastError() { return TcpErrorFromErrno(errno); }

// Waits until the socket is ready for `events`, the deadline passes or the caller cancels.
int WaitFor(int socket, short events, const TcpLimits& limits) {
  for (;;) {
    if (limits.cancel != nullptr && limits.cancel->load()) return kWsaEintr;
    const auto now = std::chrono::steady_clock::now();
    if (now >= limits.deadline) return tcp_error::kTimedOut;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(limits.deadline - now);
    pollfd entry{socket, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min(left, kCancelSlice).count()));
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return LastError();
  }
}

class PosixTcpClient final : public TcpClient {
 public:
  int Connect(const TcpEndpoints& endpoints, const TcpLimits& limits,
              TcpHandle& handle) override {
    handle = kInvalidTcpHandle;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) return LastError();
    const int error = ConnectSocket(socket, endpoints, limits);
    if (error != 0) {
      ::close(socket);
      return error;
    }
    handle = socket;
    return 0;
  }

  int Send(TcpHandle handle, std::span<const std::uint8_t> data,
           const TcpLimits& limits) override {
    const int socket = static_cast<int>(handle);
    while (!data.empty()) {
      if (const int error = WaitFor(socket, POLLOUT, limits); error != 0) return error;
      const ssize_t sent = ::send(socket, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return LastError();
      }
      data = data.subspan(static_cast<std::size_t>(sent));
    }
    return 0;
  }

  int Receive(TcpHandle handle, std::span<std::uint8_t> buffer, std::size_t& received,
              const TcpLimits& limits) override {
    received = 0;
    const int socket = static_cast<int>(handle);
    for (;;) {
      if (const int error = WaitFor(socket, POLLIN, limits); error != 0) return error;
      const ssize_t got = ::recv(socket, buffer.data(), buffer.size(), 0);
      if (got >= 0) {
        received = static_cast<std::size_t>(got);
        return 0;
      }
      if (errno != EAGAIN && errno != EINTR) return LastError();
    }
  }

  void Close(TcpHandle handle) override {
    if (handle != kInvalidTcpHandle) ::close(static_cast<int>(handle));
  }

 private:
  static int ConnectSocket(int socket, const TcpEndpoints& endpoints, const TcpLimits& limits) {
    if (endpoints.interfaceIndex != 0) {
      // Unprivileged since Linux 5.7, for a socket not bound to an interface yet.
      char name[IF_NAMESIZE] = {};
      if (::if_indextoname(static_cast<unsigned>(endpoints.interfaceIndex), name) == nullptr ||
          ::setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, name,
                       static_cast<socklen_t>(std::char_traits<char>::length(name) + 1)) < 0) {
        return LastError();
      }
    }
    if (endpoints.source != 0) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = endpoints.source;
      if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        return LastError();
      }
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(endpoints.port);
    remote.sin_addr.s_addr = endpoints.address;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
      return 0;
    }
    if (errno != EINPROGRESS) return LastError();
    if (const int error = WaitFor(socket, POLLOUT, limits); error != 0) return error;
    int result = 0;
    socklen_t length = sizeof result;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &result, &length) < 0) return LastError();
    return result == 0 ? 0 : TcpErrorFromErrno(result);
  }
};

}  // namespace

TcpClient& SystemTcpClient() {
  static PosixTcpClient client;
  return client;
}

}  // namespace quillnet
