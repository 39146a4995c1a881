#include "wire/dhcp.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quillnet {
namespace {

std::uint32_t ReadAddressValue(const std::uint8_t* bytes) {
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// Takes the first well-formed occurrence of each option the server reads.
void TakeOption(std::uint8_t code, std::span<const std::uint8_t> value, DhcpOptions& options,
                std::uint8_t& overload) {
  const bool isAddress = value.size() == kAddressSize;
  switch (code) {
    case kOptionMessageType:
      if (value.size() == 1 && options.messageType == kBootpMessage) {
        options.messageType = value[0];
      }
      break;
    case kOptionRequestedAddress:
      if (isAddress && !options.hasRequestedAddress) {
        options.hasRequestedAddress = true;
        options.requestedAddress = ReadAddressValue(value.data());
      }
      break;
    case kOptionServerId:
      if (isAddress && !options.hasServerId) {
        options.hasServerId = true;
        options.serverId = ReadAddressValue(value.data());
      }
      break;
    case kOptionSubnetMask:
      if (isAddress && !options.hasSubnetMask) {
        options.hasSubnetMask = true;
        options.subnetMask = ReadAddressValue(value.data());
      }
      break;
    case kOptionRouter:
      // A list of routers; the first is the default gateway.
      if (!value.empty() && value.size() % kAddressSize == 0 && !options.hasRouter) {
        options.hasRouter = true;
        options.router = ReadAddressValue(value.data());
      }
      break;
    case kOptionOverload:
      if (value.size() == 1 && overload == 0) overload = value[0];
      break;
    default:
      break;
  }
}

// Reads one field of options up to its end option or its end.
void ReadOptionField(std::span<const std::uint8_t> field, DhcpOptions& options,
                     std::uint8_t& overload) {
  std::size_t at = 0;
  while (at < field.size()) {
    const std::uint8_t code = field[at];
    if (code == kOptionEnd) return;
    if (code == kOptionPad) {
      ++at;
      continue;
    }
    if (field.size() - at < kOptionHeaderSize) return;
    const std::size_t length = field[at + 1];
    if (field.size() - at - kOptionHeaderSize < length) return;
    TakeOption(code, field.subspan(at + kOptionHeaderSize, length), options, overload);
    at += kOptionHeaderSize + length;
  }
}

constexpr std::array<const char*, 9> kTypeNames = {
    "BOOTP",       "DHCPDISCOVER", "DHCPOFFER",   "DHCPREQUEST", "DHCPDECLINE",
    "DHCPACK",     "DHCPNAK",      "DHCPRELEASE", "DHCPINFORM"};
static_assert(kTypeNames.size() == kDhcpInform + 1u);

// An option with a four-byte value, already in network byte order.
void PutWordOption(std::uint8_t* at, std::uint8_t code, std::uint32_t value) {
  at[0] = code;
  at[1] = kAddressSize;
  std::memcpy(at + kOptionHeaderSize, &value, kAddressSize);
}

}  // namespace

DhcpOptions ReadDhcpOptions(std::span<const std::uint8_t> message, std::size_t length) {
  DhcpOptions options;
  length = std::min(length, message.size());
  if (length < kOptionsOffset ||
      !std::equal(std::begin(kMagicCookie), std::end(kMagicCookie),
                  message.begin() + kCookieOffset)) {
    return options;
  }
  std::uint8_t overload = 0;
  ReadOptionField(message.subspan(kOptionsOffset, length - kOptionsOffset), options, overload);
  // Only the options field may say that the file and sname fields hold options, in that order.
  if ((overload & kOverloadFile) != 0) {
    std::uint8_t ignored = 0;
    ReadOptionField(message.subspan(kFileOffset, kFileSize), options, ignored);
  }
  if ((overload & kOverloadSname) != 0) {
    std::uint8_t ignored = 0;
    ReadOptionField(message.subspan(kSnameOffset, kSnameSize), options, ignored);
  }
  return options;
}

std::size_t BuildDhcpReply(std::span<const std::uint8_t> request, const DhcpReplyFields& fields,
                           std::span<std::uint8_t> reply) {
  if (request.size() < kMinRequestLength || reply.size() < kDhcpReplyLength) return 0;
  std::fill(reply.begin(), reply.end(), std::uint8_t{0});
  std::uint8_t* const bytes = reply.data();
  const bool nak = fields.messageType == kDhcpNak;
  bytes[kOpOffset] = kOpBootReply;
  bytes[kHtypeOffset] = request[kHtypeOffset];
  bytes[kHlenOffset] = request[kHlenOffset];
  // hops, secs and siaddr stay zero: no relay counted, no next server named.
  std::copy_n(request.begin() + kXidOffset, kXidSize, bytes + kXidOffset);
  std::copy_n(request.begin() + kFlagsOffset, kCiaddrOffset - kFlagsOffset, bytes + kFlagsOffset);
  if (fields.messageType == kDhcpAck) {
    std::copy_n(request.begin() + kCiaddrOffset, kAddressSize, bytes + kCiaddrOffset);
  }
  if (!nak) std::memcpy(bytes + kYiaddrOffset, &fields.ipAddress, kAddressSize);
  std::copy_n(request.begin() + kGiaddrOffset, kAddressSize, bytes + kGiaddrOffset);
  std::copy_n(request.begin() + kChaddrOffset, kChaddrSize, bytes + kChaddrOffset);

  std::memcpy(bytes + kCookieOffset, kMagicCookie, sizeof kMagicCookie);
  std::uint8_t* at = bytes + kReplyTypeOptionOffset;
  *at++ = kOptionMessageType;
  *at++ = 1;
  *at++ = fields.messageType;
  PutWordOption(at, kOptionServerId, fields.serverId);
  at += kAddressOptionSize;
  if (!nak) {
    const std::uint32_t lease = kInfiniteLease;
    PutWordOption(at, kOptionLeaseTime, lease);
    at += kAddressOptionSize;
    PutWordOption(at, kOptionSubnetMask, fields.subnetMask);
    at += kAddressOptionSize;
    if (fields.defaultGateway != 0) {
      PutWordOption(at, kOptionRouter, fields.defaultGateway);
      at += kAddressOptionSize;
    }
  }
  *at = kOptionEnd;
  return kDhcpReplyLength;
}

void SetDhcpServerId(std::span<std::uint8_t> reply, std::uint32_t serverId) {
  if (reply.size() < kReplyServerIdValueOffset + kAddressSize) return;
  std::memcpy(reply.data() + kReplyServerIdValueOffset, &serverId, kAddressSize);
}

std::string MessageTypeText(std::uint8_t messageType) {
  if (messageType < kTypeNames.size()) return kTypeNames[messageType];
  return "DHCP type " + std::to_string(messageType);
}

}  // namespace quillnet
