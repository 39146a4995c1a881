#include "helper/icmp_echo.h"

#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "helper/wait_readable.h"

namespace quillnet {
namespace {

constexpr std::size_t kIpMinHeaderSize = 20;
constexpr std::uint8_t kIpHeaderLengthMask = 0x0F;
// Room for an IP header with every option and an echo reply with its data.
constexpr std::size_t kReceiveSize = 60 + kIcmpEchoSize + 64;

int LastError() { return errno; }

bool IsRaw(int socket) {
  int type = 0;
  socklen_t length = sizeof type;
  return ::getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_RAW;
}

// A raw socket's requests carry this identifier; a ping socket's, the one the kernel gives.
std::uint16_t RawIdentifier() { return static_cast<std::uint16_t>(::getpid()); }

}  // namespace

std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += std::uint32_t{bytes[i]} << 8 | bytes[i + 1];
  if (length % 2 != 0) sum += std::uint32_t{bytes[length - 1]} << 8;
  while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

int OpenEchoSocket(int& socket) {
  socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (socket >= 0) return 0;
  socket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  return socket < 0 ? LastError() : 0;
}

int SendEcho(int socket, std::uint32_t ip, std::uint16_t sequence) {
  std::array<std::uint8_t, kIcmpEchoSize> message{};
  message[kIcmpTypeOffset] = kIcmpEchoRequest;
  const std::uint16_t identifier = RawIdentifier();
  message[kIcmpIdentifierOffset] = static_cast<std::uint8_t>(identifier >> 8);
  message[kIcmpIdentifierOffset + 1] = static_cast<std::uint8_t>(identifier);
  message[kIcmpSequenceOffset] = static_cast<std::uint8_t>(sequence >> 8);
  message[kIcmpSequenceOffset + 1] = static_cast<std::uint8_t>(sequence);
  std::memcpy(message.data() + kIcmpHeaderSize, "quillnet", kIcmpEchoDataSize);
  // A ping socket fills in its own identifier and checksum; a raw one sends what it is given.
  const std::uint16_t checksum = InternetChecksum(message.data(), message.size());
  message[kIcmpChecksumOffset] = static_cast<std::uint8_t>(checksum >> 8);
  message[kIcmpChecksumOffset + 1] = static_cast<std::uint8_t>(checksum);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = ip;
  ssize_t sent = 0;
  do {
    sent = ::sendto(socket, message.data(), message.size(), 0,
                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? LastError() : 0;
}

int ReceiveEcho(int socket, std::uint32_t ip, bool& answered,
                std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  answered = false;
  const bool raw = IsRaw(socket);
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const int ready = WaitReadable(socket, deadline);
    if (ready < 0) return LastError();
    if (ready == 0) return 0;
    std::array<std::uint8_t, kReceiveSize> buffer{};
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return LastError();
    }
    if (from.sin_addr.s_addr != ip) continue;
    // A raw socket hears every ICMP message with its IP header; a ping socket only the
    // replies to its own requests, without it.
    std::size_t offset = 0;
    if (raw) {
      if (static_cast<std::size_t>(length) < kIpMinHeaderSize) continue;
      offset = static_cast<std::size_t>(buffer[0] & kIpHeaderLengthMask) * 4;
    }
    if (static_cast<std::size_t>(length) < offset + kIcmpHeaderSize) continue;
    const std::uint8_t* icmp = buffer.data() + offset;
    if (icmp[kIcmpTypeOffset] != kIcmpEchoReply) continue;
    const std::uint16_t identifier =
        static_cast<std::uint16_t>(icmp[kIcmpIdentifierOffset] << 8 | icmp[kIcmpIdentifierOffset + 1]);
    if (raw && identifier != RawIdentifier()) continue;
    answered = true;
    return 0;
  }
}

void CloseEchoSocket(int socket) { ::close(socket); }

}  // namespace quillnet
