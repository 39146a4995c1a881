#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillnet {

// What a part with a leading zero ("010") means.
enum class LeadingZeros {
  kDecimal,  // read as decimal (10), as the address entry shows and the address check reads it
  kRefuse,   // refused: in a command line or a file it is more likely a typing error
};

// The one reader of IPv4 address texts: exactly four decimal numbers 0 to 255 of one to three
// digits each, separated by dots, with nothing before, between or after them. The short,
// octal and hexadecimal forms that inet_aton reads are refused, so a text is never sent as
// another address than the one it shows. `address` is in network byte order.
bool ReadIpv4Text(std::string_view text, std::uint32_t& address,
                  LeadingZeros leadingZeros = LeadingZeros::kDecimal);

// Dotted decimal text of an address in network byte order.
std::string Ipv4Text(std::uint32_t address);

// The text of the address `text` reads as, without leading zeros ("010.1.2.003" gives
// "10.1.2.3"); `text` itself when it does not read as an address.
std::string NormalizedIpv4Text(const std::string& text);

// The mask of a prefix length (0 to 32), in network byte order.
std::uint32_t Ipv4MaskFromPrefix(int prefixLength);

}  // namespace quillnet
