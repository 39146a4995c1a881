#include "bootp/answer_policy.h"

#include <algorithm>
#include <cstring>

#include "platform/ipv4_text.h"

namespace quillnet {
namespace {

// The assignment the device is answered with: the armed one, else its listed row.
const Assignment* AnsweredWith(const PolicyRows& rows) {
  return rows.armed != nullptr ? rows.armed : rows.listed;
}

PolicyAnswer Reply(std::uint8_t type, const Assignment& addresses, const PolicyRows& rows) {
  PolicyAnswer answer;
  answer.kind = PolicyAnswer::Kind::kReply;
  answer.type = type;
  answer.addresses = addresses;
  answer.armed = rows.armed != nullptr;
  answer.final = type == kBootpMessage || type == kDhcpAck;
  return answer;
}

}  // namespace

bool TakesRequest(std::span<const std::uint8_t> request) {
  return request.size() > kHopsOffset && request[kHopsOffset] <= kMaxHops;
}

std::uint32_t RelayOf(std::span<const std::uint8_t> message) {
  std::uint32_t relay = 0;
  if (message.size() >= kGiaddrOffset + kAddressSize) {
    std::memcpy(&relay, message.data() + kGiaddrOffset, kAddressSize);
  }
  return relay;
}

namespace {

// The first byte of an address in network byte order, whose bits name its class.
std::uint8_t FirstOctet(std::uint32_t address) {
  std::uint8_t bytes[kAddressSize] = {};
  std::memcpy(bytes, &address, kAddressSize);
  return bytes[0];
}

constexpr std::uint8_t kThisNetworkOctet = 0;
constexpr std::uint8_t kLoopbackOctet = 127;
constexpr std::uint8_t kMulticastFirstOctet = 224;
constexpr std::uint8_t kReservedFirstOctet = 240;
constexpr std::uint32_t kLimitedBroadcastAddress = 0xFFFFFFFFu;
// On a /31 or /32 network every address is a host's (RFC 3021): none is the network's own.
constexpr int kLongestPrefixWithBroadcast = 30;

int PrefixLength(std::uint32_t mask) {
  int length = 0;
  for (std::uint8_t byte : std::span(reinterpret_cast<const std::uint8_t*>(&mask), kAddressSize)) {
    for (int bit = 7; bit >= 0 && (byte >> bit & 1) != 0; --bit) ++length;
    if (byte != 0xFF) break;
  }
  return length;
}

}  // namespace

RelayCheck CheckRelay(std::uint32_t giaddr, std::span<const OwnNetwork> own) {
  if (giaddr == 0) return {};
  if (giaddr == kLimitedBroadcastAddress) return {RelayFault::kLimitedBroadcast, {}};
  const std::uint8_t first = FirstOctet(giaddr);
  if (first == kLoopbackOctet) return {RelayFault::kLoopback, {}};
  if (first >= kMulticastFirstOctet && first < kReservedFirstOctet) {
    return {RelayFault::kMulticast, {}};
  }
  if (first == kThisNetworkOctet || first >= kReservedFirstOctet) {
    return {RelayFault::kReserved, {}};
  }
  for (const OwnNetwork& network : own) {
    if (giaddr == network.address) return {RelayFault::kOwnAddress, network};
  }
  for (const OwnNetwork& network : own) {
    if (PrefixLength(network.mask) > kLongestPrefixWithBroadcast) continue;
    const OwnNetwork prefix{network.address & network.mask, network.mask};
    if (giaddr == prefix.address) return {RelayFault::kNetworkAddress, prefix};
    if (giaddr == (prefix.address | ~network.mask)) return {RelayFault::kBroadcastAddress, prefix};
  }
  return {};
}

std::string RelayFaultText(const RelayCheck& check) {
  const auto network = [&check] {
    return "this PC's network " + Ipv4Text(check.network.address) + "/" +
           std::to_string(PrefixLength(check.network.mask));
  };
  switch (check.fault) {
    case RelayFault::kNone:
      return {};
    case RelayFault::kOwnAddress:
      return "this PC's own address";
    case RelayFault::kLoopback:
      return "a loopback address";
    case RelayFault::kMulticast:
      return "a multicast address";
    case RelayFault::kLimitedBroadcast:
      return "the limited broadcast address";
    case RelayFault::kReserved:
      return "a reserved address, which no host has";
    case RelayFault::kNetworkAddress:
      return "the network address of " + network();
    case RelayFault::kBroadcastAddress:
      return "the broadcast address of " + network();
  }
  return {};
}

PolicyAnswer Decide(const PolicyRequest& request, const PolicyRows& rows) {
  switch (request.options.messageType) {
    case kBootpMessage:
      return AnswerBootp(request, rows);
    case kDhcpDiscover:
      return AnswerDiscover(request, rows);
    case kDhcpRequest:
      return AnswerRequest(request, rows);
    case kDhcpDecline:
      return AnswerDecline(request, rows);
    default:
      return {};
  }
}

PolicyAnswer AnswerBootp(const PolicyRequest&, const PolicyRows& rows) {
  const Assignment* addresses = AnsweredWith(rows);
  return addresses != nullptr ? Reply(kBootpMessage, *addresses, rows) : PolicyAnswer{};
}

PolicyAnswer AnswerDiscover(const PolicyRequest&, const PolicyRows& rows) {
  const Assignment* addresses = AnsweredWith(rows);
  return addresses != nullptr ? Reply(kDhcpOffer, *addresses, rows) : PolicyAnswer{};
}

PolicyAnswer AnswerRequest(const PolicyRequest& request, const PolicyRows& rows) {
  const Assignment* addresses = AnsweredWith(rows);
  if (addresses == nullptr) return {};
  const DhcpOptions& options = request.options;
  if (options.hasServerId && std::find(rows.serverIds.begin(), rows.serverIds.end(),
                                       options.serverId) == rows.serverIds.end()) {
    // It took another server's offer; waiting on for the armed device would be waiting for
    // ever. A listed device is answered when it asks this server again.
    if (rows.armed == nullptr) return {};
    PolicyAnswer answer;
    answer.kind = PolicyAnswer::Kind::kOtherServer;
    answer.armed = true;
    answer.addresses = *addresses;
    answer.otherServer = options.serverId;
    return answer;
  }
  // Selecting and rebooting clients name the address in option 50, renewing ones in ciaddr.
  std::uint32_t asked = options.requestedAddress;
  if (!options.hasRequestedAddress) {
    std::memcpy(&asked, request.bytes.data() + kCiaddrOffset, kAddressSize);
  }
  return Reply(asked == addresses->ipAddress ? kDhcpAck : kDhcpNak, *addresses, rows);
}

PolicyAnswer AnswerDecline(const PolicyRequest& request, const PolicyRows& rows) {
  const Assignment* addresses = AnsweredWith(rows);
  const bool armed = rows.armed != nullptr || (addresses == nullptr && rows.watched != nullptr);
  if (addresses == nullptr) addresses = rows.watched;
  if (addresses == nullptr) return {};
  const DhcpOptions& options = request.options;
  if (options.hasRequestedAddress && options.requestedAddress != addresses->ipAddress) return {};
  PolicyAnswer answer;
  answer.kind = PolicyAnswer::Kind::kDecline;
  answer.armed = armed;
  answer.addresses = *addresses;
  return answer;
}

std::size_t WriteAnswer(std::span<const std::uint8_t> request, const PolicyAnswer& answer,
                        std::span<std::uint8_t, kMessageBufferSize> reply) {
  if (answer.type == kBootpMessage) {
    std::copy_n(request.begin(), std::min(request.size(), reply.size()), reply.begin());
    BuildReply(reply, answer.addresses.ipAddress, answer.addresses.subnetMask,
               answer.addresses.defaultGateway);
    return reply.size();
  }
  const DhcpReplyFields fields{answer.type, answer.addresses.ipAddress,
                               answer.addresses.subnetMask, answer.addresses.defaultGateway, 0};
  const std::size_t length = BuildDhcpReply(request, fields, reply);
  if (answer.type == kDhcpNak && RelayOf(request) != 0) reply[kFlagsOffset] |= kBroadcastFlagByte;
  return length;
}

}  // namespace quillnet
