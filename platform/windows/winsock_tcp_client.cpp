#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "platform/tcp_client.h"

namespace quillnet {
namespace {

constexpr WORD kWinsockVersion22 = 0x0202;
// How often a wait looks at the cancel flag.
constexpr std::chrono::milliseconds kCancelSlice{50};

int LastError() { return ::WSAGetLastError(); }

SOCKET Native(TcpHandle handle) { return static_cast<SOCKET>(handle); }

enum class Ready { kRead, kWrite, kConnect };

// Waits until the socket is ready, the deadline passes or the caller cancels. A connection
// attempt that fails is signalled in the exception set (Windows' select; WSAPoll misses it).
int WaitFor(SOCKET socket, Ready what, const TcpLimits& limits) {
  for (;;) {
    if (limits.cancel != nullptr && limits.cancel->load()) return kWsaEintr;
    const auto now = std::chrono::steady_clock::now();
    if (now >= limits.deadline) return tcp_error::kTimedOut;
    const auto slice = std::min(
        std::chrono::ceil<std::chrono::milliseconds>(limits.deadline - now), kCancelSlice);
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (what == Ready::kRead) FD_SET(socket, &readable);
    if (what != Ready::kRead) FD_SET(socket, &writable);
    if (what == Ready::kConnect) FD_SET(socket, &failed);
    timeval wait{0, static_cast<long>(slice.count() * 1000)};
    const int ready = ::select(0, &readable, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) return LastError();
    if (ready > 0) return 0;
  }
}

class WinsockTcpClient final : public TcpClient {
 public:
  WinsockTcpClient() {
    WSADATA data{};
    ::WSAStartup(kWinsockVersion22, &data);
  }

  int Connect(const TcpEndpoints& endpoints, const TcpLimits& limits,
              TcpHandle& handle) override {
    handle = kInvalidTcpHandle;
    const SOCKET socket =
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return LastError();
    const int error = ConnectSocket(socket, endpoints, limits);
    if (error != 0) {
      ::closesocket(socket);
      return error;
    }
    handle = static_cast<TcpHandle>(socket);
    return 0;
  }

  int Send(TcpHandle handle, std::span<const std::uint8_t> data,
           const TcpLimits& limits) override {
    while (!data.empty()) {
      if (const int error = WaitFor(Native(handle), Ready::kWrite, limits); error != 0) {
        return error;
      }
      const int sent = ::send(Native(handle), reinterpret_cast<const char*>(data.data()),
                              static_cast<int>(std::min<std::size_t>(data.size(), 65536)), 0);
      if (sent == SOCKET_ERROR) {
        if (LastError() == kWsaEwouldblock) continue;
        return LastError();
      }
      data = data.subspan(static_cast<std::size_t>(sent));
    }
    return 0;
  }

  int Receive(TcpHandle handle, std::span<std::uint8_t> buffer, std::size_t& received,
              const TcpLimits& limits) override {
    received = 0;
    for (;;) {
      if (const int error = WaitFor(Native(handle), Ready::kRead, limits); error != 0) {
        return error;
      }
      const int got = ::recv(Native(handle), reinterpret_cast<char*>(buffer.data()),
                             static_cast<int>(std::min<std::size_t>(buffer.size(), 65536)), 0);
      if (got != SOCKET_ERROR) {
        received = static_cast<std::size_t>(got);
        return 0;
      }
      if (LastError() != kWsaEwouldblock) return LastError();
    }
  }

  void Close(TcpHandle handle) override {
    if (handle != kInvalidTcpHandle) ::closesocket(Native(handle));
  }

 private:
  static int ConnectSocket(SOCKET socket, const TcpEndpoints& endpoints,
                           const TcpLimits& limits) {
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) return LastError();
    if (endpoints.interfaceIndex != 0) {
      // IPv4 takes the index in network byte order.
      const DWORD index = htonl(static_cast<DWORD>(endpoints.interfaceIndex));
      if (::setsockopt(socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index),
                       sizeof index) == SOCKET_ERROR) {
        return LastError();
      }
    }
    if (endpoints.source != 0) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = endpoints.source;
      if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) ==
          SOCKET_ERROR) {
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
    if (LastError() != kWsaEwouldblock) return LastError();
    if (const int error = WaitFor(socket, Ready::kConnect, limits); error != 0) return error;
    int result = 0;
    int length = sizeof result;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) ==
        SOCKET_ERROR) {
      return LastError();
    }
    return result;
  }
};

}  // namespace

TcpClient& SystemTcpClient() {
  static WinsockTcpClient client;
  return client;
}

}  // namespace quillnet
