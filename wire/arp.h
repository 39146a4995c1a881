#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "wire/message.h"

namespace quillnet {

// An Ethernet frame carrying an ARP packet for IPv4 (RFC 826), as an AF_PACKET socket sends and
// receives it. Multi-byte fields are big-endian on the wire; IPv4 addresses stay in network
// byte order, as they stand in the frame.
inline constexpr std::size_t kEthernetDestinationOffset = 0;
inline constexpr std::size_t kEthernetSourceOffset = 6;
inline constexpr std::size_t kEthertypeOffset = 12;
inline constexpr std::size_t kEthertypeSize = 2;
inline constexpr std::size_t kEthernetHeaderSize = 14;

// Offsets of the ARP fields in the frame, after the Ethernet header.
inline constexpr std::size_t kArpHtypeOffset = kEthernetHeaderSize;
inline constexpr std::size_t kArpPtypeOffset = kArpHtypeOffset + 2;
inline constexpr std::size_t kArpHlenOffset = kArpPtypeOffset + 2;
inline constexpr std::size_t kArpPlenOffset = kArpHlenOffset + 1;
inline constexpr std::size_t kArpOperOffset = kArpPlenOffset + 1;
inline constexpr std::size_t kArpShaOffset = kArpOperOffset + 2;
inline constexpr std::size_t kArpSpaOffset = kArpShaOffset + kMacSize;
inline constexpr std::size_t kArpThaOffset = kArpSpaOffset + kAddressSize;
inline constexpr std::size_t kArpTpaOffset = kArpThaOffset + kMacSize;
inline constexpr std::size_t kArpPacketSize = 28;
// Shorter frames are not ARP; longer ones carry Ethernet padding (up to 60 bytes).
inline constexpr std::size_t kArpFrameSize = 42;

static_assert(kEthernetSourceOffset == kEthernetDestinationOffset + kMacSize);
static_assert(kEthertypeOffset == kEthernetSourceOffset + kMacSize);
static_assert(kEthernetHeaderSize == kEthertypeOffset + kEthertypeSize);
static_assert(kArpShaOffset == kEthernetHeaderSize + 8);
static_assert(kArpPacketSize == kArpTpaOffset + kAddressSize - kEthernetHeaderSize);
static_assert(kArpFrameSize == kEthernetHeaderSize + kArpPacketSize);

inline constexpr std::uint16_t kEthertypeArp = 0x0806;
inline constexpr std::uint16_t kArpHardwareEthernet = 1;
inline constexpr std::uint16_t kArpProtocolIpv4 = 0x0800;
inline constexpr std::uint8_t kArpIpv4Length = 4;
inline constexpr std::uint16_t kArpOperationRequest = 1;
inline constexpr std::uint16_t kArpOperationReply = 2;

static_assert(kArpIpv4Length == kAddressSize);
static_assert(kEthernetAddressLength == kMacSize);

using ArpFrame = std::array<std::uint8_t, kArpFrameSize>;

// An RFC 5227 probe from `senderMac` for `targetIp`: a broadcast ARP request whose sender IP is
// 0.0.0.0, so that no host's ARP cache learns anything from it.
ArpFrame BuildArpProbe(DeviceKey senderMac, std::uint32_t targetIp);

// The reply of `holder`, which holds `ip`, to `asker`'s probe: sent to the asker alone, its
// target IP the probe's sender IP, 0.0.0.0.
ArpFrame BuildArpReply(DeviceKey holder, std::uint32_t ip, DeviceKey asker);

struct ArpPacket {
  std::uint16_t operation;
  DeviceKey senderMac;
  std::uint32_t senderIp;
  DeviceKey targetMac;
  std::uint32_t targetIp;
};

// True for an Ethernet/IPv4 ARP request or reply of at least kArpFrameSize bytes; then fills
// `packet`, which is left alone otherwise.
bool ParseArpFrame(std::span<const std::uint8_t> frame, ArpPacket& packet);

// True when the packet's sender says it holds `ip` (its sender IP is `ip`); `holder` then gets
// its sender MAC. A probe, whose sender IP is 0.0.0.0, claims nothing, whatever `ip` is.
bool ArpClaimsAddress(const ArpPacket& packet, std::uint32_t ip, DeviceKey& holder);

}  // namespace quillnet
