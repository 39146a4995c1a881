#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The frames an ARP probe hands to the Windows ARP layer and the replies it hands back, as a
// packet socket would carry them: Ethernet, then ARP for IPv4 (RFC 826). Multi-byte fields are
// big-endian; IPv4 addresses stay in network byte order. A MAC address is held in the low 48
// bits, its first byte most significant.
namespace quillnet {

inline constexpr std::size_t kArpMacBytes = 6;
inline constexpr std::size_t kArpIpv4Bytes = 4;
inline constexpr std::size_t kArpEthernetHeaderBytes = 14;
inline constexpr std::size_t kArpPacketBytes = 28;
inline constexpr std::size_t kArpFrameBytes = kArpEthernetHeaderBytes + kArpPacketBytes;

using ArpFrame = std::array<std::uint8_t, kArpFrameBytes>;

// The address an Ethernet/IPv4 ARP request asks for; false for any other frame.
bool ArpRequestTarget(std::span<const std::uint8_t> frame, std::uint32_t& ip);

// The reply `holder` sends to `asker`'s probe for `ip`: it holds the address.
ArpFrame ArpReplyFrame(std::uint64_t holder, std::uint32_t ip, std::uint64_t asker);

}  // namespace quillnet
