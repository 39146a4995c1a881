#pragma once

#include <cstdint>
#include <string>

namespace quillnet {

// Reads an IPv4 address text the way inet_addr does (dotted decimal, also the short and
// hexadecimal forms) into network byte order. Returns false when the text is not an address.
bool ParseIpv4Text(const std::string& text, std::uint32_t& address);

// Reads only the strict dotted-quad form: four decimal parts 0 to 255 without leading zeros
// and nothing after. For text typed by a person or read from a file, where the short and
// hexadecimal forms above are more likely a typing error than an intent.
bool ParseDottedQuad(const std::string& text, std::uint32_t& address);

// Dotted decimal text of an address in network byte order.
std::string Ipv4Text(std::uint32_t address);

// The mask of a prefix length (0 to 32), in network byte order.
std::uint32_t Ipv4MaskFromPrefix(int prefixLength);

}  // namespace quillnet
