#include "platform/ipv4_text.h"

#include <arpa/inet.h>

namespace quillnet {
namespace {

constexpr int kParts = 4;
constexpr int kMaxDigits = 3;
constexpr unsigned kMaxPart = 255;

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
  address = htonl(value);
  return true;
}

std::string Ipv4Text(std::uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr value{};
  value.s_addr = address;
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

std::string NormalizedIpv4Text(const std::string& text) {
  std::uint32_t address = 0;
  return ReadIpv4Text(text, address) ? Ipv4Text(address) : text;
}

std::uint32_t Ipv4MaskFromPrefix(int prefixLength) {
  if (prefixLength <= 0) return 0;
  if (prefixLength >= 32) return 0xFFFFFFFFu;
  return htonl(~((1u << (32 - prefixLength)) - 1u));
}

}  // namespace quillnet
