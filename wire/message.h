#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillnet {

// BOOTP message layout (RFC 951) with an RFC 1497 vendor area. Multi-byte fields stay in
// network byte order; they are compared and copied as they stand.
inline constexpr std::size_t kMessageBufferSize = 1024;

inline constexpr std::size_t kOpOffset = 0;
inline constexpr std::size_t kHtypeOffset = 1;
inline constexpr std::size_t kHlenOffset = 2;
inline constexpr std::size_t kHopsOffset = 3;
inline constexpr std::size_t kXidOffset = 4;
inline constexpr std::size_t kXidSize = 4;
inline constexpr std::size_t kSecsOffset = 8;
inline constexpr std::size_t kFlagsOffset = 10;
inline constexpr std::size_t kCiaddrOffset = 12;
inline constexpr std::size_t kYiaddrOffset = 16;
inline constexpr std::size_t kSiaddrOffset = 20;
inline constexpr std::size_t kGiaddrOffset = 24;
inline constexpr std::size_t kAddressSize = 4;
inline constexpr std::size_t kChaddrOffset = 28;
inline constexpr std::size_t kChaddrSize = 16;
inline constexpr std::size_t kMacSize = 6;
inline constexpr std::size_t kSnameOffset = 44;
inline constexpr std::size_t kSnameSize = 64;
inline constexpr std::size_t kFileOffset = 108;
inline constexpr std::size_t kFileSize = 128;
inline constexpr std::size_t kVendOffset = 236;
inline constexpr std::size_t kVendSize = 64;

// The fixed part of a message; shorter datagrams are not BOOTP requests.
inline constexpr std::size_t kMinRequestLength = 300;

static_assert(kChaddrOffset == kGiaddrOffset + kAddressSize);
static_assert(kSnameOffset == kChaddrOffset + kChaddrSize);
static_assert(kFileOffset == kSnameOffset + kSnameSize);
static_assert(kVendOffset == kFileOffset + kFileSize);
static_assert(kMinRequestLength == kVendOffset + kVendSize);
static_assert(kMinRequestLength <= kMessageBufferSize);

inline constexpr std::uint8_t kOpBootRequest = 1;
inline constexpr std::uint8_t kOpBootReply = 2;
inline constexpr std::uint8_t kEthernetAddressLength = 6;
// Hardware types 0 to 7 are the known ones.
inline constexpr std::uint8_t kFirstUnknownHardwareType = 8;

// Vendor area of the reply: magic cookie, Subnet Mask option, Router option, End option.
inline constexpr std::uint8_t kMagicCookie[4] = {99, 130, 83, 99};
inline constexpr std::size_t kCookieOffset = kVendOffset;
inline constexpr std::size_t kSubnetOptionOffset = kCookieOffset + sizeof kMagicCookie;
inline constexpr std::uint8_t kOptionSubnetMask = 1;
inline constexpr std::size_t kRouterOptionOffset = kSubnetOptionOffset + 2 + kAddressSize;
inline constexpr std::uint8_t kOptionRouter = 3;
inline constexpr std::size_t kEndOptionOffset = kRouterOptionOffset + 2 + kAddressSize;
inline constexpr std::uint8_t kOptionEnd = 255;
inline constexpr std::size_t kReplyVendorEnd = kEndOptionOffset + 1;

static_assert(kSubnetOptionOffset == 240);
static_assert(kRouterOptionOffset == 246);
static_assert(kEndOptionOffset == 252);
static_assert(kReplyVendorEnd <= kMinRequestLength);

// Low 48 bits: chaddr bytes 28..33, the first byte most significant.
using DeviceKey = std::uint64_t;

struct RequestVerdict {
  bool accepted = false;
  DeviceKey key = 0;
  bool valid = false;
};

// Accepts a datagram of `length` bytes held in `buffer` when it is at least 300 bytes, fits
// the buffer, has op 1 and hlen 6; then gives its device key and validity.
RequestVerdict ClassifyRequest(std::span<const std::uint8_t> buffer, std::size_t length);

// Rewrites an accepted request in place into the reply. The three addresses are in network
// byte order. `buffer` must hold at least kMinRequestLength bytes.
void BuildReply(std::span<std::uint8_t> buffer, std::uint32_t ipAddress, std::uint32_t subnetMask,
                std::uint32_t defaultGateway);

// "%02x:%02x:%02x:%02x:%02x:%02x" of the key's six low bytes.
std::string FormatMacAddress(DeviceKey key);

// Hexadecimal digits, each colon skipping to the next character; 0 when the text does not
// parse. Digits beyond sixteen wrap around.
DeviceKey ParseMacKey(std::string_view text);

// Reads only six two-digit hexadecimal groups of either case, all separated by ":" or all by
// "-" (what `ip link` and Windows' `ipconfig /all` print). False for anything else.
bool ParseMacText(std::string_view text, DeviceKey& key);

// The addresses a reply built by BuildReply carries, in network byte order.
struct ReplyAddresses {
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t defaultGateway = 0;
};
ReplyAddresses ReadReplyAddresses(std::span<const std::uint8_t> reply);

// The device key of a message's chaddr.
DeviceKey ReadDeviceKey(std::span<const std::uint8_t> message);

}  // namespace quillnet
