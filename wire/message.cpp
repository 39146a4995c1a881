#include "wire/message.h"

#include <cstdio>
#include <cstring>

namespace {

// A hexadecimal digit's worth, or -1.
int HexWorth(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "xx:xx:xx:xx:xx:xx": two digits per group and one separator between groups.
constexpr std::size_t kMacGroupDigits = 2;
constexpr std::size_t kMacTextLength = quillnet::kMacSize * (kMacGroupDigits + 1) - 1;

std::uint32_t ReadAddress(const std::uint8_t* bytes) {
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

}  // namespace

namespace quillnet {

RequestVerdict ClassifyRequest(std::span<const std::uint8_t> buffer, std::size_t length) {
  RequestVerdict verdict;
  if (length < kMinRequestLength || length > buffer.size()) return verdict;
  if (buffer[kOpOffset] != kOpBootRequest) return verdict;
  if (buffer[kHlenOffset] != kEthernetAddressLength) return verdict;

  verdict.accepted = true;
  verdict.key = ReadDeviceKey(buffer);

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
    const int worth = HexWorth(text[i]);
    if (worth < 0) return 0;
    key = key * 16 + static_cast<unsigned>(worth);
  }
  return key;
}

bool ParseMacText(std::string_view text, DeviceKey& key) {
  if (text.size() != kMacTextLength) return false;
  const char separator = text[kMacGroupDigits];
  if (separator != ':' && separator != '-') return false;
  DeviceKey parsed = 0;
  for (std::size_t group = 0; group < kMacSize; ++group) {
    const std::size_t at = group * (kMacGroupDigits + 1);
    if (group > 0 && text[at - 1] != separator) return false;
    const int high = HexWorth(text[at]);
    const int low = HexWorth(text[at + 1]);
    if (high < 0 || low < 0) return false;
    parsed = (parsed << 8) | static_cast<DeviceKey>(high * 16 + low);
  }
  key = parsed;
  return true;
}

ReplyAddresses ReadReplyAddresses(std::span<const std::uint8_t> reply) {
  if (reply.size() < kMinRequestLength) return {};
  return {ReadAddress(reply.data() + kYiaddrOffset),
          ReadAddress(reply.data() + kSubnetOptionOffset + 2),
          ReadAddress(reply.data() + kRouterOptionOffset + 2)};
}

DeviceKey ReadDeviceKey(std::span<const std::uint8_t> message) {
  DeviceKey key = 0;
  if (message.size() < kChaddrOffset + kMacSize) return key;
  for (std::size_t i = 0; i < kMacSize; ++i) key = (key << 8) | message[kChaddrOffset + i];
  return key;
}

}  // namespace quillnet
