#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "wire/message.h"

namespace quillnet {

// DHCP (RFC 2131, options of RFC 2132) on top of the BOOTP layout: a request whose options
// carry a message type is a DHCP message, and is answered with a DHCP reply of its own kind.
// Options follow the magic cookie in the vendor area, which in DHCP runs to the end of the
// datagram.
inline constexpr std::size_t kOptionsOffset = kCookieOffset + sizeof kMagicCookie;
static_assert(kOptionsOffset == kSubnetOptionOffset);

inline constexpr std::uint8_t kOptionPad = 0;
inline constexpr std::uint8_t kOptionRequestedAddress = 50;
inline constexpr std::uint8_t kOptionLeaseTime = 51;
inline constexpr std::uint8_t kOptionOverload = 52;
inline constexpr std::uint8_t kOptionMessageType = 53;
inline constexpr std::uint8_t kOptionServerId = 54;
// Option code and length in front of each option's value.
inline constexpr std::size_t kOptionHeaderSize = 2;

// Values of option 52: the sname and file fields hold options too.
inline constexpr std::uint8_t kOverloadFile = 1;
inline constexpr std::uint8_t kOverloadSname = 2;

// DHCP message types, option 53. 0 is no DHCP message: a BOOTP request or reply.
inline constexpr std::uint8_t kBootpMessage = 0;
inline constexpr std::uint8_t kDhcpDiscover = 1;
inline constexpr std::uint8_t kDhcpOffer = 2;
inline constexpr std::uint8_t kDhcpRequest = 3;
inline constexpr std::uint8_t kDhcpDecline = 4;
inline constexpr std::uint8_t kDhcpAck = 5;
inline constexpr std::uint8_t kDhcpNak = 6;
inline constexpr std::uint8_t kDhcpRelease = 7;
inline constexpr std::uint8_t kDhcpInform = 8;

// A lease that never ends.
inline constexpr std::uint32_t kInfiniteLease = 0xFFFFFFFFu;

// Every client must accept a message of 576 bytes in an IP datagram: 548 for the DHCP message
// after the IP and UDP headers. A reply is never longer, and never shorter than a BOOTP
// message, which relays and older clients expect.
inline constexpr std::size_t kIpHeaderSize = 20;
inline constexpr std::size_t kUdpHeaderSize = 8;
inline constexpr std::size_t kDhcpMaxReplyLength = 576 - kIpHeaderSize - kUdpHeaderSize;
inline constexpr std::size_t kDhcpReplyLength = kMinRequestLength;
static_assert(kDhcpMaxReplyLength == 548);

// A reply's options in a fixed order: message type, server identifier, lease time, mask,
// router (only with a gateway), end. The server identifier is the address of the interface
// each copy leaves through, so its value sits at a fixed place where each copy writes it.
inline constexpr std::size_t kReplyTypeOptionOffset = kOptionsOffset;
inline constexpr std::size_t kReplyServerIdOffset = kReplyTypeOptionOffset + kOptionHeaderSize + 1;
inline constexpr std::size_t kReplyServerIdValueOffset = kReplyServerIdOffset + kOptionHeaderSize;
inline constexpr std::size_t kReplyLeaseOptionOffset = kReplyServerIdValueOffset + kAddressSize;
inline constexpr std::size_t kAddressOptionSize = kOptionHeaderSize + kAddressSize;
// Type, server identifier, lease, mask, router, end.
inline constexpr std::size_t kReplyOptionsMaxEnd =
    kReplyLeaseOptionOffset + 3 * kAddressOptionSize + 1;
static_assert(kReplyServerIdValueOffset == 245);
static_assert(kReplyOptionsMaxEnd <= kDhcpReplyLength);
static_assert(kDhcpReplyLength <= kDhcpMaxReplyLength);
static_assert(kDhcpMaxReplyLength <= kMessageBufferSize);

// What the options of a message say, as far as the server reads them. A field whose option
// is missing, or has the wrong length, stays unset; of an option given twice the first counts.
struct DhcpOptions {
  std::uint8_t messageType = kBootpMessage;
  bool hasRequestedAddress = false;
  std::uint32_t requestedAddress = 0;  // network byte order, as are the addresses below
  bool hasServerId = false;
  std::uint32_t serverId = 0;
  bool hasSubnetMask = false;
  std::uint32_t subnetMask = 0;
  bool hasRouter = false;
  std::uint32_t router = 0;  // the first router listed
};

// Reads the options of a message of `length` bytes held in `message` (the part beyond
// `length` is not read): the vendor area after the magic cookie, and the file and sname
// fields when option 52 says they hold options too. Without the cookie there are none. A
// truncated option ends the reading; what was read before it stays.
DhcpOptions ReadDhcpOptions(std::span<const std::uint8_t> message, std::size_t length);

// The addresses a DHCP reply carries, in network byte order. A gateway of 0 sends no router.
struct DhcpReplyFields {
  std::uint8_t messageType = kDhcpOffer;  // kDhcpOffer, kDhcpAck or kDhcpNak
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t defaultGateway = 0;
  std::uint32_t serverId = 0;
};

// Builds the reply to the DHCP request `request` (at least kMinRequestLength bytes) into
// `reply` (at least kDhcpReplyLength bytes; the rest is zeroed) and gives its length. The
// reply keeps the request's htype, hlen, xid, flags, giaddr and chaddr; an ack keeps its
// ciaddr (a renewing client names its address there). A nak carries no address and no lease.
std::size_t BuildDhcpReply(std::span<const std::uint8_t> request, const DhcpReplyFields& fields,
                           std::span<std::uint8_t> reply);

// Writes the server identifier of a reply built by BuildDhcpReply.
void SetDhcpServerId(std::span<std::uint8_t> reply, std::uint32_t serverId);

// "BOOTP" for kBootpMessage, "DHCPDISCOVER" to "DHCPINFORM" for types 1 to 8, "DHCP type N"
// for any other.
std::string MessageTypeText(std::uint8_t messageType);

}  // namespace quillnet
