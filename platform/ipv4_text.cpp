#include "platform/ipv4_text.h"

#include <arpa/inet.h>

namespace quillnet {

bool ParseIpv4Text(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (inet_aton(text.c_str(), &parsed) == 0) return false;
  address = parsed.s_addr;
  return true;
}

bool ParseDottedQuad(const std::string& text, std::uint32_t& address) {
  // inet_pton stops at a NUL byte, which would let "1.2.3.4\0junk" pass.
  if (text.find('\0') != std::string::npos) return false;
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

std::string Ipv4Text(std::uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr value{};
  value.s_addr = address;
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

std::uint32_t Ipv4MaskFromPrefix(int prefixLength) {
  if (prefixLength <= 0) return 0;
  if (prefixLength >= 32) return 0xFFFFFFFFu;
  return htonl(~((1u << (32 - prefixLength)) - 1u));
}

}  // namespace quillnet
