#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "wire/message.h"

// The messages between a Quillnet program and quillnet-net-helper over their Unix socket pair
// (SOCK_SEQPACKET, so every message arrives whole or not at all). Both ends are built together
// and run on one host; multi-byte numbers are big-endian all the same, so that the bytes read
// the same in every dump. IPv4 addresses stay in network byte order, as on the wire.
namespace quillnet::helper {

// The descriptor the helper takes its requests from.
inline constexpr int kRequestFd = 3;
inline constexpr std::uint16_t kBootpServerPort = 67;

enum class RequestKind : std::uint8_t {
  kRefused = 0,  // not a valid request; never sent
  kOpenBootpSocket = 1,
  kProbeArp = 2,
  kCancel = 3,  // ends a running probe
  // ICMP echo requests to an address behind a router, where ARP cannot reach; the interface
  // field is 0: the routes choose.
  kProbeEcho = 4,
};

inline constexpr std::size_t kRequestKindOffset = 0;
inline constexpr std::size_t kRequestReservedOffset = 1;
inline constexpr std::size_t kRequestReservedSize = 3;
inline constexpr std::size_t kRequestInterfaceOffset = 4;
inline constexpr std::size_t kRequestAddressOffset = 8;
inline constexpr std::size_t kRequestDurationOffset = 12;
inline constexpr std::size_t kRequestIntervalOffset = 16;
inline constexpr std::size_t kRequestSize = 20;
static_assert(kRequestReservedOffset + kRequestReservedSize == kRequestInterfaceOffset);
static_assert(kRequestInterfaceOffset + 4 == kRequestAddressOffset);
static_assert(kRequestAddressOffset + 4 == kRequestDurationOffset);
static_assert(kRequestDurationOffset + 4 == kRequestIntervalOffset);
static_assert(kRequestIntervalOffset + 4 == kRequestSize);

// A probe runs at most a day, and sends between 20 and one probe every 10 s per second.
inline constexpr std::uint32_t kMinDurationMs = 1;
inline constexpr std::uint32_t kMaxDurationMs = 86'400'000;
inline constexpr std::uint32_t kMinIntervalMs = 50;
inline constexpr std::uint32_t kMaxIntervalMs = 10'000;

struct Request {
  RequestKind kind = RequestKind::kRefused;
  int interfaceIndex = 0;
  std::uint32_t address = 0;  // network byte order
  std::uint32_t durationMs = 0;
  std::uint32_t intervalMs = 0;
};

using RequestBytes = std::array<std::uint8_t, kRequestSize>;

// The request the bytes hold, or kind kRefused: a wrong size, reserved bytes or unused fields
// not zero, an unknown kind, or a probe whose interface, address, duration or interval is out
// of bounds (address 0.0.0.0 or 255.255.255.255, interface index not positive).
Request ParseRequest(std::span<const std::uint8_t> bytes);
RequestBytes EncodeRequest(const Request& request);

enum class ReplyKind : std::uint8_t {
  kRefused = 0,   // not a valid reply; never sent
  kSocket = 1,    // the bound socket rides along (SCM_RIGHTS)
  kFailed = 2,    // error: the errno of the call that failed
  kClaim = 3,     // mac: a device that says it holds the probed address
  kProbeEnd = 4,  // the probe's duration passed
  kEchoReply = 5,  // the probed address answered an echo request
};

inline constexpr std::size_t kReplyKindOffset = 0;
inline constexpr std::size_t kReplyReservedOffset = 1;
inline constexpr std::size_t kReplyReservedSize = 3;
inline constexpr std::size_t kReplyErrorOffset = 4;
inline constexpr std::size_t kReplyMacOffset = 8;
inline constexpr std::size_t kReplyPaddingOffset = 14;
inline constexpr std::size_t kReplyPaddingSize = 2;
inline constexpr std::size_t kReplySize = 16;
static_assert(kReplyReservedOffset + kReplyReservedSize == kReplyErrorOffset);
static_assert(kReplyErrorOffset + 4 == kReplyMacOffset);
static_assert(kReplyMacOffset + kMacSize == kReplyPaddingOffset);
static_assert(kReplyPaddingOffset + kReplyPaddingSize == kReplySize);

struct Reply {
  ReplyKind kind = ReplyKind::kRefused;
  int error = 0;         // kFailed: a positive errno
  std::uint64_t mac = 0;  // kClaim: the low 48 bits, the first byte most significant
};

using ReplyBytes = std::array<std::uint8_t, kReplySize>;

// The reply the bytes hold, or kind kRefused, as ParseRequest judges requests.
Reply ParseReply(std::span<const std::uint8_t> bytes);
ReplyBytes EncodeReply(const Reply& reply);

}  // namespace quillnet::helper
