#include "helper/protocol.h"

#include <algorithm>

namespace quillnet::helper {
namespace {

constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFF;

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
         std::uint32_t{bytes[offset + 2]} << 8 | std::uint32_t{bytes[offset + 3]};
}

void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value >> 24);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 16);
  bytes[offset + 2] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 3] = static_cast<std::uint8_t>(value);
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
}

// The address as it stands in the bytes, so it keeps network byte order in memory.
std::uint32_t ReadAddress(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::uint32_t address = 0;
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), sizeof address,
              reinterpret_cast<std::uint8_t*>(&address));
  return address;
}

}  // namespace

Request ParseRequest(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kRequestSize) return {};
  if (!AllZero(bytes.subspan(kRequestReservedOffset, kRequestReservedSize))) return {};
  const auto fields = bytes.subspan(kRequestInterfaceOffset);
  Request request;
  switch (static_cast<RequestKind>(bytes[kRequestKindOffset])) {
    case RequestKind::kOpenBootpSocket:
    case RequestKind::kCancel:
      if (!AllZero(fields)) return {};
      request.kind = static_cast<RequestKind>(bytes[kRequestKindOffset]);
      return request;
    case RequestKind::kProbeArp:
    case RequestKind::kProbeEcho: {
      const auto kind = static_cast<RequestKind>(bytes[kRequestKindOffset]);
      const std::uint32_t index = ReadU32(bytes, kRequestInterfaceOffset);
      request.address = ReadAddress(bytes, kRequestAddressOffset);
      request.durationMs = ReadU32(bytes, kRequestDurationOffset);
      request.intervalMs = ReadU32(bytes, kRequestIntervalOffset);
      // An ARP probe names its interface; an echo goes where the routes lead.
      if (kind == RequestKind::kProbeEcho ? index != 0
                                          : index == 0 || index > static_cast<std::uint32_t>(INT32_MAX)) {
        return {};
      }
      if (request.address == 0 || request.address == kBroadcastAddress) return {};
      if (request.durationMs < kMinDurationMs || request.durationMs > kMaxDurationMs) return {};
      if (request.intervalMs < kMinIntervalMs || request.intervalMs > kMaxIntervalMs) return {};
      request.interfaceIndex = static_cast<int>(index);
      request.kind = kind;
      return request;
    }
    case RequestKind::kRefused:
      break;
  }
  return {};
}

RequestBytes EncodeRequest(const Request& request) {
  RequestBytes bytes{};
  bytes[kRequestKindOffset] = static_cast<std::uint8_t>(request.kind);
  WriteU32(bytes, kRequestInterfaceOffset, static_cast<std::uint32_t>(request.interfaceIndex));
  std::copy_n(reinterpret_cast<const std::uint8_t*>(&request.address), sizeof request.address,
              bytes.begin() + kRequestAddressOffset);
  WriteU32(bytes, kRequestDurationOffset, request.durationMs);
  WriteU32(bytes, kRequestIntervalOffset, request.intervalMs);
  return bytes;
}

Reply ParseReply(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kReplySize) return {};
  if (!AllZero(bytes.subspan(kReplyReservedOffset, kReplyReservedSize)) ||
      !AllZero(bytes.subspan(kReplyPaddingOffset, kReplyPaddingSize))) {
    return {};
  }
  const std::uint32_t error = ReadU32(bytes, kReplyErrorOffset);
  std::uint64_t mac = 0;
  for (std::size_t i = 0; i < kMacSize; ++i) mac = mac << 8 | bytes[kReplyMacOffset + i];
  Reply reply;
  switch (static_cast<ReplyKind>(bytes[kReplyKindOffset])) {
    case ReplyKind::kSocket:
    case ReplyKind::kProbeEnd:
    case ReplyKind::kEchoReply:
      if (error != 0 || mac != 0) return {};
      break;
    case ReplyKind::kFailed:
      if (error == 0 || error > static_cast<std::uint32_t>(INT32_MAX) || mac != 0) return {};
      reply.error = static_cast<int>(error);
      break;
    case ReplyKind::kClaim:
      if (error != 0) return {};
      reply.mac = mac;
      break;
    default:
      return {};
  }
  reply.kind = static_cast<ReplyKind>(bytes[kReplyKindOffset]);
  return reply;
}

ReplyBytes EncodeReply(const Reply& reply) {
  ReplyBytes bytes{};
  bytes[kReplyKindOffset] = static_cast<std::uint8_t>(reply.kind);
  WriteU32(bytes, kReplyErrorOffset, static_cast<std::uint32_t>(reply.error));
  for (std::size_t i = 0; i < kMacSize; ++i) {
    bytes[kReplyMacOffset + i] = static_cast<std::uint8_t>(reply.mac >> (8 * (kMacSize - 1 - i)));
  }
  return bytes;
}

}  // namespace quillnet::helper
