#include "platform/ipv4_text.h"

#include <array>
#include <bit>

namespace quillnet {
namespace {

constexpr int kParts = 4;
constexpr int kMaxDigits = 3;
constexpr unsigned kMaxPart = 255;

using AddressBytes = std::array<std::uint8_t, kParts>;
static_assert(sizeof(AddressBytes) == sizeof(std::uint32_t));

// A value read most significant part first, as it stands in a datagram: its first part in the
// first byte, whatever this machine's byte order. Computed here, so no socket header is needed.
std::uint32_t NetworkOrder(std::uint32_t value) {
  AddressBytes bytes{};
  for (int part = kParts - 1; part >= 0; --part) {
    bytes[static_cast<std::size_t>(part)] = static_cast<std::uint8_t>(value & 0xFFu);
    value >>= 8;
  }
  return std::bit_cast<std::uint32_t>(bytes);
}

}  // namespace

bool ReadIpv4Text(std::string_view text, std::uint32_t& address, LeadingZeros leadingZeros) {
  std::uint32_t value = 0;
  std::size_t at = 0;
  for (int part = 0; part < kParts; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const std::size_t start = at;
    unsigned number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      if (at - start == kMaxDigits) return false;
      number = number * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
    }
    const std::size_t digits = at - start;
    if (digits == 0 || number > kMaxPart) return false;
    if (leadingZeros == LeadingZeros::kRefuse && digits > 1 && text[start] == '0') return false;
    value = (value << 8) | number;
  }
  if (at != text.size()) return false;
  address = NetworkOrder(value);
  return true;
}

std::string Ipv4Text(std::uint32_t address) {
  const auto bytes = std::bit_cast<AddressBytes>(address);
  std::string text;
  for (const std::uint8_t part : bytes) {
    if (!text.empty()) text += '.';
    text += std::to_string(part);
  }
  return text;
}

std::string NormalizedIpv4Text(const std::string& text) {
  std::uint32_t address = 0;
  return ReadIpv4Text(text, address) ? Ipv4Text(address) : text;
}

std::uint32_t Ipv4MaskFromPrefix(int prefixLength) {
  if (prefixLength <= 0) return 0;
  if (prefixLength >= 32) return 0xFFFFFFFFu;
  return NetworkOrder(~((1u << (32 - prefixLength)) - 1u));
}

}  // namespace quillnet
