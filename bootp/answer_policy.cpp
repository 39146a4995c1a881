#include "bootp/answer_policy.h"

#include <algorithm>
#include <cstring>

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
