#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "wire/dhcp.h"
#include "wire/message.h"

namespace quillnet::testing {

// Builds an address in network byte order from its four dotted parts.
inline std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// A BOOTP request as a device sends it; every field the server reads can be set.
struct Request {
  std::uint8_t op = kOpBootRequest;
  std::uint8_t htype = 1;
  std::uint8_t hlen = kEthernetAddressLength;
  std::uint32_t xid = 0x12345678;  // written most significant byte first
  DeviceKey mac = 0x02005E102030;
  std::uint8_t ciaddr[4] = {0, 0, 0, 0};
  std::string sname;
  std::size_t length = kMinRequestLength;

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes(length, 0);
    if (length < kMinRequestLength) {
      // Fill what fits of the fixed part.
      std::vector<std::uint8_t> full = Request{*this}.WithLength(kMinRequestLength).Bytes();
      std::copy_n(full.begin(), length, bytes.begin());
      return bytes;
    }
    bytes[kOpOffset] = op;
    bytes[kHtypeOffset] = htype;
    bytes[kHlenOffset] = hlen;
    for (int i = 0; i < 4; ++i) {
      bytes[kXidOffset + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(xid >> (24 - 8 * i));
      bytes[kCiaddrOffset + static_cast<std::size_t>(i)] = ciaddr[i];
    }
    for (std::size_t i = 0; i < kMacSize; ++i) {
      bytes[kChaddrOffset + i] = static_cast<std::uint8_t>(mac >> (40 - 8 * i));
    }
    std::copy(sname.begin(), sname.end(), bytes.begin() + kSnameOffset);
    return bytes;
  }

  // The request as a DHCP message: the cookie, then `options` (code, length, value ... as
  // written, without the end option, which is added).
  std::vector<std::uint8_t> WithOptions(std::vector<std::uint8_t> options) const {
    std::vector<std::uint8_t> bytes = Bytes();
    std::copy(std::begin(kMagicCookie), std::end(kMagicCookie), bytes.begin() + kCookieOffset);
    options.push_back(kOptionEnd);
    const std::size_t end = kCookieOffset + sizeof kMagicCookie + options.size();
    if (end > bytes.size()) bytes.resize(end);
    std::copy(options.begin(), options.end(), bytes.begin() + kCookieOffset + sizeof kMagicCookie);
    return bytes;
  }

  Request WithLength(std::size_t newLength) const {
    Request copy = *this;
    copy.length = newLength;
    return copy;
  }
};

// A DHCP message with `request`'s fields and `options`.
inline std::vector<std::uint8_t> Dhcp(std::vector<std::uint8_t> options, Request request = {}) {
  return request.WithOptions(std::move(options));
}

inline std::vector<std::uint8_t> Discover() { return Dhcp({53, 1, kDhcpDiscover}); }

// A request for a.b.c.d, naming the server s (none when s is 0).
inline std::vector<std::uint8_t> RequestFor(std::array<std::uint8_t, 4> address,
                                            std::array<std::uint8_t, 4> server = {}) {
  std::vector<std::uint8_t> options = {53, 1, kDhcpRequest, 50, 4};
  options.insert(options.end(), address.begin(), address.end());
  if (server != std::array<std::uint8_t, 4>{}) {
    options.insert(options.end(), {54, 4});
    options.insert(options.end(), server.begin(), server.end());
  }
  return Dhcp(options);
}

}  // namespace quillnet::testing
