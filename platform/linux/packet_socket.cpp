#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "helper/icmp_echo.h"
#include "helper/wait_readable.h"
#include "platform/linux/packet_socket.h"
#include "platform/neighbour_check.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

constexpr std::size_t kMacLength = 6;

int LastError() { return WinsockErrorFromErrno(errno); }

// Calls `visit` with the link-layer entry (AF_PACKET) of every interface; false, with errno
// set, when the interfaces cannot be read.
bool ForEachLink(const std::function<void(const ifaddrs&, const sockaddr_ll&)>& visit) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    visit(*entry, *reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr));
  }
  ::freeifaddrs(list);
  return true;
}

class KernelPacketSocketApi final : public PacketSocketApi {
 public:
  int Open(SocketHandle& socket) override {
    socket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP));
    return socket < 0 ? LastError() : 0;
  }

  int HardwareAddress(int interfaceIndex, std::uint64_t& mac) override {
    bool found = false;
    bool ethernet = false;
    std::uint64_t address = 0;
    const bool read = ForEachLink([&](const ifaddrs&, const sockaddr_ll& link) {
      if (found || link.sll_ifindex != interfaceIndex) return;
      found = true;
      ethernet = link.sll_halen == kMacLength;
      for (std::size_t i = 0; ethernet && i < kMacLength; ++i) {
        address = address << 8 | link.sll_addr[i];
      }
    });
    if (!read) return LastError();
    if (!found) return WinsockErrorFromErrno(ENODEV);
    if (!ethernet) return kWsaEinval;
    mac = address;
    return 0;
  }

  int SendFrame(SocketHandle socket, int interfaceIndex,
                std::span<const std::uint8_t> frame) override {
    if (frame.size() < kMacLength) return kWsaEinval;
    // With SOCK_RAW the frame carries its own header; the address only picks the interface.
    sockaddr_ll target{};
    target.sll_family = AF_PACKET;
    target.sll_protocol = htons(ETH_P_ARP);
    target.sll_ifindex = interfaceIndex;
    target.sll_halen = kMacLength;
    std::memcpy(target.sll_addr, frame.data(), kMacLength);
    ssize_t sent = 0;
    do {
      sent = ::sendto(socket, frame.data(), frame.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? LastError() : 0;
  }

  int ReceiveFrame(SocketHandle socket, std::span<std::uint8_t> buffer, std::size_t& received,
                   int& interfaceIndex, std::chrono::milliseconds timeout) override {
    using Clock = std::chrono::steady_clock;
    received = 0;
    interfaceIndex = 0;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      const int ready = WaitReadable(socket, deadline);
      if (ready < 0) return LastError();
      if (ready == 0) return 0;

      sockaddr_ll from{};
      socklen_t fromLength = sizeof from;
      const ssize_t length = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (length < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return LastError();
      }
      // The socket also sees this host's own frames going out, our probes among them.
      if (from.sll_pkttype == PACKET_OUTGOING) {
        if (Clock::now() >= deadline) return 0;
        continue;
      }
      received = static_cast<std::size_t>(length);
      interfaceIndex = from.sll_ifindex;
      return 0;
    }
  }

  void Close(SocketHandle socket) override { ::close(socket); }

  std::unique_ptr<NetHelperClaims> StartHelperProbes(const std::vector<int>& interfaces,
                                                     std::uint32_t ip,
                                                     std::chrono::milliseconds duration,
                                                     std::chrono::milliseconds interval,
                                                     NetHelperFailure& failure) override {
    return StartNetHelperProbes(interfaces, ip, duration, interval, failure);
  }

  int OpenEcho(SocketHandle& socket) override {
    const int error = OpenEchoSocket(socket);
    return error != 0 ? WinsockErrorFromErrno(error) : 0;
  }

  int SendEcho(SocketHandle socket, std::uint32_t ip, std::uint16_t sequence) override {
    const int error = quillnet::SendEcho(socket, ip, sequence);
    return error != 0 ? WinsockErrorFromErrno(error) : 0;
  }

  int ReceiveEcho(SocketHandle socket, std::uint32_t ip, bool& answered,
                  std::chrono::milliseconds timeout) override {
    const int error = quillnet::ReceiveEcho(socket, ip, answered, timeout);
    return error != 0 ? WinsockErrorFromErrno(error) : 0;
  }

  std::unique_ptr<NetHelperClaims> StartHelperEcho(std::uint32_t ip,
                                                   std::chrono::milliseconds duration,
                                                   std::chrono::milliseconds interval,
                                                   NetHelperFailure& failure) override {
    return StartNetHelperEcho(ip, duration, interval, failure);
  }
};

}  // namespace

PacketSocketApi& SystemPacketSocketApi() {
  static KernelPacketSocketApi api;
  return api;
}

std::vector<int> ArpInterfaces() {
  std::vector<int> indexes;
  constexpr unsigned kMustBeSet = IFF_UP;
  constexpr unsigned kMustBeClear = IFF_LOOPBACK | IFF_NOARP;
  ForEachLink([&](const ifaddrs& entry, const sockaddr_ll& link) {
    if ((entry.ifa_flags & kMustBeSet) == kMustBeSet && (entry.ifa_flags & kMustBeClear) == 0 &&
        link.sll_hatype == ARPHRD_ETHER) {
      indexes.push_back(link.sll_ifindex);
    }
  });
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  return indexes;
}

}  // namespace quillnet
