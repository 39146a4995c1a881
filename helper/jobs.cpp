#include "helper/jobs.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/capability.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "helper/channel.h"
#include "helper/icmp_echo.h"
#include "helper/protocol.h"
#include "helper/wait_readable.h"
#include "wire/arp.h"

namespace quillnet::helper {
namespace {

using Clock = std::chrono::steady_clock;

// The program that starts the helper sends its request at once; a helper left without one
// does not wait for ever.
constexpr auto kFirstRequestTimeout = std::chrono::seconds(5);

// Keeps at most `capability` of the helper's capabilities, effective and permitted; what is
// dropped cannot come back. A job drops what it does not need before it reads anything from
// the network, and the rest once its socket is open.
void KeepOnly(cap_value_t capability) {
  cap_t kept = cap_init();
  if (kept == nullptr) return;
  cap_set_flag(kept, CAP_EFFECTIVE, 1, &capability, CAP_SET);
  cap_set_flag(kept, CAP_PERMITTED, 1, &capability, CAP_SET);
  // A capability the helper does not hold cannot be kept: then it keeps none, and the job's
  // own call fails with the refusal it reports.
  if (cap_set_proc(kept) != 0) {
    cap_clear(kept);
    cap_set_proc(kept);
  }
  cap_free(kept);
}

void KeepNone() {
  cap_t none = cap_init();
  if (none == nullptr) return;
  cap_set_proc(none);
  cap_free(none);
}

// The packet socket is opened and addressed with wire/arp's ethertype, which must be the kernel's.
static_assert(kEthertypeArp == ETH_P_ARP);

// Room for an ARP frame padded to the Ethernet minimum of 60 bytes, and then some.
constexpr std::size_t kFrameBufferSize = 64;
static_assert(kFrameBufferSize >= kArpFrameSize);

bool Fail(int fd, int error) { return SendReply(fd, {ReplyKind::kFailed, error, 0}); }

// Closes a descriptor when the job ends, however it ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

int OpenBootpSocket(int fd) {
  KeepOnly(CAP_NET_BIND_SERVICE);
  Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return Fail(fd, errno) ? 0 : 1;
  // The options the server sets before it binds: it learns each datagram's interface from
  // IP_PKTINFO and answers devices without an address by broadcast.
  const int on = 1;
  if (::setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0 ||
      ::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
    return Fail(fd, errno) ? 0 : 1;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kBootpServerPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
    return Fail(fd, errno) ? 0 : 1;
  }
  KeepNone();
  return SendReply(fd, {ReplyKind::kSocket, 0, 0}, socket.get()) ? 0 : 1;
}

// The interface's own MAC, from SIOCGIFHWADDR; an errno, or EINVAL when it is not Ethernet.
int InterfaceMac(int interfaceIndex, DeviceKey& mac) {
  ifreq request{};
  if (::if_indextoname(static_cast<unsigned>(interfaceIndex), request.ifr_name) == nullptr) {
    return errno;
  }
  Descriptor query(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (query.get() < 0) return errno;
  if (::ioctl(query.get(), SIOCGIFHWADDR, &request) < 0) return errno;
  if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER) return EINVAL;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(request.ifr_hwaddr.sa_data);
  mac = 0;
  for (std::size_t i = 0; i < kMacSize; ++i) mac = mac << 8 | bytes[i];
  return 0;
}

int SendProbe(int socket, int interfaceIndex, const ArpFrame& frame) {
  sockaddr_ll target{};
  target.sll_family = AF_PACKET;
  target.sll_protocol = htons(kEthertypeArp);
  target.sll_ifindex = interfaceIndex;
  target.sll_halen = kMacSize;
  std::copy_n(frame.begin() + kEthernetDestinationOffset, kMacSize, target.sll_addr);
  ssize_t sent = 0;
  do {
    sent = ::sendto(socket, frame.data(), frame.size(), 0,
                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? errno : 0;
}

// The caller closed its end or sent a cancel: either ends the probe. Anything else it sends
// during a probe is not a request the probe takes, and is dropped.
bool CallerEnded(int fd) {
  Request request;
  return !ReceiveRequest(fd, request, true) || request.kind == RequestKind::kCancel;
}

// The loop of a probe whose first message went out: `resend` every interval until the
// duration passes, `take` whenever the socket has something (false: the caller cannot be
// answered); the caller's end closing or a cancel ends it early.
template <typename Resend, typename Take>
int RunProbe(int fd, const Request& request, int socket, Resend resend, Take take) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(request.durationMs);
  const std::chrono::milliseconds interval(request.intervalMs);
  Clock::time_point next = start + interval;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return SendReply(fd, {ReplyKind::kProbeEnd, 0, 0}) ? 0 : 1;
    if (now >= next) {
      // A failed resend is not the end: the first one went out, and answers are still heard.
      resend();
      next += interval;
      if (next <= now) next = now + interval;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline, next) - now);
    std::array<pollfd, 2> entries{{{fd, POLLIN, 0}, {socket, POLLIN, 0}}};
    const int ready = ::poll(entries.data(), entries.size(),
                             static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return 1;
    if (entries[0].revents != 0 && CallerEnded(fd)) return 0;
    if ((entries[1].revents & POLLIN) != 0 && !take()) return 1;
  }
}

int ProbeArp(int fd, const Request& request) {
  KeepOnly(CAP_NET_RAW);
  DeviceKey mac = 0;
  if (const int error = InterfaceMac(request.interfaceIndex, mac); error != 0) {
    return Fail(fd, error) ? 0 : 1;
  }
  Descriptor socket(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(kEthertypeArp)));
  if (socket.get() < 0) return Fail(fd, errno) ? 0 : 1;
  // Bound to the one interface, the socket sees no other interface's traffic.
  sockaddr_ll local{};
  local.sll_family = AF_PACKET;
  local.sll_protocol = htons(kEthertypeArp);
  local.sll_ifindex = request.interfaceIndex;
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
    return Fail(fd, errno) ? 0 : 1;
  }
  // The open socket sends and hears the frames; the probe needs no capability from here on.
  KeepNone();
  const ArpFrame probe = BuildArpProbe(mac, request.address);
  if (const int error = SendProbe(socket.get(), request.interfaceIndex, probe); error != 0) {
    return Fail(fd, error) ? 0 : 1;
  }

  std::array<std::uint8_t, kFrameBufferSize> buffer{};
  return RunProbe(
      fd, request, socket.get(),
      [&] { SendProbe(socket.get(), request.interfaceIndex, probe); },
      [&] {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(socket.get(), buffer.data(), buffer.size(),
                                          MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                                          &fromLength);
        // The socket also sees this host's own frames going out, the probes among them.
        if (length < 0 || from.sll_pkttype == PACKET_OUTGOING) return true;
        ArpPacket packet{};
        DeviceKey holder = 0;
        return !ParseArpFrame(std::span(buffer.data(), static_cast<std::size_t>(length)),
                              packet) ||
               !ArpClaimsAddress(packet, request.address, holder) ||
               SendReply(fd, {ReplyKind::kClaim, 0, holder});
      });
}

// Echo requests to an address behind a router, every interval for the duration, each reply
// from it reported.
int ProbeEcho(int fd, const Request& request) {
  KeepOnly(CAP_NET_RAW);
  int opened = -1;
  if (const int error = OpenEchoSocket(opened); error != 0) return Fail(fd, error) ? 0 : 1;
  Descriptor socket(opened);
  // The open socket sends and hears the messages; the probe needs no capability from here on.
  KeepNone();
  std::uint16_t sequence = 0;
  if (const int error = SendEcho(socket.get(), request.address, ++sequence); error != 0) {
    return Fail(fd, error) ? 0 : 1;
  }
  return RunProbe(
      fd, request, socket.get(), [&] { SendEcho(socket.get(), request.address, ++sequence); },
      [&] {
        bool answered = false;
        return ReceiveEcho(socket.get(), request.address, answered, std::chrono::milliseconds(0)) !=
                   0 ||
               !answered || SendReply(fd, {ReplyKind::kEchoReply, 0, 0});
      });
}

}  // namespace

bool IsUnixSocket(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) < 0 || !S_ISSOCK(status.st_mode)) return false;
  int domain = 0;
  socklen_t length = sizeof domain;
  return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

int Serve(int fd) {
  Request request;
  if (WaitReadable(fd, Clock::now() + kFirstRequestTimeout) <= 0 || !ReceiveRequest(fd, request)) {
    return 1;
  }
  switch (request.kind) {
    case RequestKind::kOpenBootpSocket:
      return OpenBootpSocket(fd);
    case RequestKind::kProbeArp:
      return ProbeArp(fd, request);
    case RequestKind::kProbeEcho:
      return ProbeEcho(fd, request);
    case RequestKind::kCancel:
    case RequestKind::kRefused:
      break;
  }
  Fail(fd, EINVAL);
  return 1;
}

}  // namespace quillnet::helper
