#include "bootp/message.h"

#include <cstdio>
#include <cstring>

namespace quillnet {

RequestVerdict ClassifyRequest(std::span<const std::uint8_t> buffer, std::size_t length) {
  RequestVerdict verdict;
  if (length < kMinRequestLength || length > buffer.size()) return verdict;
  if (buffer[kOpOffset] != kOpBootRequest) return verdict;
  if (buffer[kHlenOffset] != kEthernetAddressLength) return verdict;

  verdict.accepted = true;
  for (std::size_t i = 0; i < kMacSize; ++i) {
    verdict.key = (verdict.key << 8) | buffer[kChaddrOffset + i];
  }

  const bool namesServer = buffer[kSnameOffset] != 0;
  const bool unknownType = buffer[kHtypeOffset] >= kFirstUnknownHardwareType;
  bool namesAddress = false;
  for (std::size_t i = 0; i < kAddressSize; ++i) {
    namesAddress = namesAddress || buffer[kCiaddrOffset + i] != 0;
  }
  if (namesServer) {
    verdict.valid = false;
  } else if (unknownType) {
    verdict.valid = true;
  } else {
    verdict.valid = !namesAddress;
  }
  return verdict;
}

void BuildReply(std::span<std::uint8_t> buffer, std::uint32_t ipAddress, std::uint32_t subnetMask,
                std::uint32_t defaultGateway) {
  if (buffer.size() < kMinRequestLength) return;
  std::uint8_t* const bytes = buffer.data();
  bytes[kOpOffset] = kOpBootReply;
  std::memcpy(bytes + kYiaddrOffset, &ipAddress, kAddressSize);
  std::memcpy(bytes + kCookieOffset, kMagicCookie, sizeof kMagicCookie);
  bytes[kSubnetOptionOffset] = kOptionSubnetMask;
  bytes[kSubnetOptionOffset + 1] = kAddressSize;
  std::memcpy(bytes + kSubnetOptionOffset + 2, &subnetMask, kAddressSize);
  bytes[kRouterOptionOffset] = kOptionRouter;
  bytes[kRouterOptionOffset + 1] = kAddressSize;
  std::memcpy(bytes + kRouterOptionOffset + 2, &defaultGateway, kAddressSize);
  bytes[kEndOptionOffset] = kOptionEnd;
}

std::string FormatMacAddress(DeviceKey key) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x",
                static_cast<unsigned>((key >> 40) & 0xFF), static_cast<unsigned>((key >> 32) & 0xFF),
                static_cast<unsigned>((key >> 24) & 0xFF), static_cast<unsigned>((key >> 16) & 0xFF),
                static_cast<unsigned>((key >> 8) & 0xFF), static_cast<unsigned>(key & 0xFF));
  return text;
}

DeviceKey ParseMacKey(std::string_view text) {
  DeviceKey key = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ':') {
      ++i;
      if (i == text.size()) return 0;
    }
    const char c = text[i];
    unsigned worth = 0;
    if (c >= '0' && c <= '9') {
      worth = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      worth = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      worth = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return 0;
    }
    key = key * 16 + worth;
  }
  return key;
}

}  // namespace quillnet
