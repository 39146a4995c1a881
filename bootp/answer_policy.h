#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "wire/dhcp.h"
#include "wire/message.h"

namespace quillnet {

// What the server answers to one request: a pure decision, from the request and what the
// server holds for its device (the armed assignment, a listed row) to the answer. Sockets,
// threads and the table stay with the server; the bytes of the answer are made here too.

// A request that came through more relay agents than this is dropped (RFC 1542 §4.1.1: 16 is
// the most a relay may be configured to allow).
inline constexpr std::uint8_t kMaxHops = 16;
// The broadcast bit of the flags field (RFC 1542 §2.2), its first byte's high bit.
inline constexpr std::uint8_t kBroadcastFlagByte = 0x80;
static_assert(kFlagsOffset + 1 < kCiaddrOffset);

// The addresses one device is given, in network byte order; a gateway of 0 sends none.
struct Assignment {
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t defaultGateway = 0;
  bool operator==(const Assignment&) const = default;
};

// One accepted request, as the policy reads it.
struct PolicyRequest {
  std::span<const std::uint8_t> bytes;  // at least kMinRequestLength
  DeviceKey key = 0;
  DhcpOptions options;
};

// What the server holds for the device that asked.
struct PolicyRows {
  // The armed assignment, while the device's requests are answered (from the arming until it
  // is disarmed, declines or takes another server's offer); null for another device.
  const Assignment* armed = nullptr;
  // The arming's own answer is still to come: the next final answer ends the arming.
  bool firstAnswer = false;
  // The armed device after it declined or went elsewhere: a later decline of the address
  // still counts, and nothing is answered. Null for another device.
  const Assignment* watched = nullptr;
  // The device's row in the list of hosts; null when it has none. The armed assignment wins.
  const Assignment* listed = nullptr;
  // This PC's addresses, as server identifiers: a DHCP REQUEST naming another took that
  // server's offer.
  std::span<const std::uint32_t> serverIds;
};

struct PolicyAnswer {
  enum class Kind {
    kNone,         // recorded only
    kReply,        // `type` with `addresses`
    kDecline,      // the device reports `addresses.ipAddress` as in use
    kOtherServer,  // the armed device took the offer of `otherServer`
  };
  Kind kind = Kind::kNone;
  // kReply: kBootpMessage for a BOOTP reply, else kDhcpOffer, kDhcpAck or kDhcpNak.
  std::uint8_t type = kBootpMessage;
  Assignment addresses;
  bool armed = false;  // for the armed device, not a listed one
  // A BOOTP reply or an ack: it gives the device its address (an offer or a nak is a step on
  // the way).
  bool final = false;
  std::uint32_t otherServer = 0;
  bool operator==(const PolicyAnswer&) const = default;
};

// Whether the server takes the accepted request at all: not past kMaxHops relays.
bool TakesRequest(std::span<const std::uint8_t> request);
// The relay agent a request came through (giaddr, network byte order); 0 when it came directly.
std::uint32_t RelayOf(std::span<const std::uint8_t> message);

// One IPv4 address of this PC and the mask of its network, in network byte order.
struct OwnNetwork {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

// Why a request's giaddr names no relay agent that a reply may be sent to. Anyone on a
// segment can write any giaddr, and a reply follows it by unicast: to this PC itself, or as
// a broadcast to a whole network, were these taken.
enum class RelayFault {
  kNone,              // no relay (0), or an address a relay agent may have
  kOwnAddress,        // one of this PC's addresses
  kLoopback,          // 127.0.0.0/8
  kMulticast,         // 224.0.0.0/4
  kLimitedBroadcast,  // 255.255.255.255
  kReserved,          // 0.0.0.0/8 or 240.0.0.0/4: no host has one
  kNetworkAddress,    // the network address of one of this PC's networks
  kBroadcastAddress,  // the broadcast address of one of this PC's networks
};
struct RelayCheck {
  RelayFault fault = RelayFault::kNone;
  // For kNetworkAddress and kBroadcastAddress: that network.
  OwnNetwork network;
};
RelayCheck CheckRelay(std::uint32_t giaddr, std::span<const OwnNetwork> own);
// What the address is, for a person: "this PC's own address", "the broadcast address of this
// PC's network 10.77.0.0/24" ...; empty for kNone.
std::string RelayFaultText(const RelayCheck& check);

// The answer to a request, by its kind: a request without a DHCP message type is BOOTP.
PolicyAnswer Decide(const PolicyRequest& request, const PolicyRows& rows);
// RFC 951 §7: a BOOTP request of a known device gets its addresses.
PolicyAnswer AnswerBootp(const PolicyRequest& request, const PolicyRows& rows);
// RFC 2131 §4.3.1: a DHCPDISCOVER gets a DHCPOFFER of the device's address.
PolicyAnswer AnswerDiscover(const PolicyRequest& request, const PolicyRows& rows);
// RFC 2131 §4.3.2: a DHCPREQUEST that names this server (selecting), or none (init-reboot in
// option 50, renewing in ciaddr), gets a DHCPACK for the device's address and a DHCPNAK for
// any other; one that names another server took that server's offer.
PolicyAnswer AnswerRequest(const PolicyRequest& request, const PolicyRows& rows);
// RFC 2131 §4.3.3: a DHCPDECLINE of the device's address ends its assignment.
PolicyAnswer AnswerDecline(const PolicyRequest& request, const PolicyRows& rows);
// RFC 2131 §4.3.4 and §4.3.5 (DHCPRELEASE, DHCPINFORM), and types no client sends: recorded,
// not answered.

// Writes the reply `answer` (kind kReply) to `request` (a received buffer of
// kMessageBufferSize bytes, zero past the request) into `reply`, and gives its length: a
// BOOTP reply is the whole buffer, the request rewritten (RFC 951 keeps every field the
// server does not fill); a DHCP reply is kDhcpReplyLength bytes, its server identifier left
// for the sender to write. A nak through a relay has the broadcast bit set, so the relay
// broadcasts it to a device whose address is wrong (RFC 2131 §4.3.2).
std::size_t WriteAnswer(std::span<const std::uint8_t> request, const PolicyAnswer& answer,
                        std::span<std::uint8_t, kMessageBufferSize> reply);

}  // namespace quillnet
