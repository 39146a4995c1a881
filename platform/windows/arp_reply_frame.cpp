#include "platform/windows/arp_reply_frame.h"

#include <cstring>

namespace quillnet {
namespace {

constexpr std::size_t kDestinationOffset = 0;
constexpr std::size_t kSourceOffset = kDestinationOffset + kArpMacBytes;
constexpr std::size_t kEthertypeOffset = kSourceOffset + kArpMacBytes;
constexpr std::size_t kHtypeOffset = kArpEthernetHeaderBytes;
constexpr std::size_t kPtypeOffset = kHtypeOffset + 2;
constexpr std::size_t kHlenOffset = kPtypeOffset + 2;
constexpr std::size_t kPlenOffset = kHlenOffset + 1;
constexpr std::size_t kOperOffset = kPlenOffset + 1;
constexpr std::size_t kShaOffset = kOperOffset + 2;
constexpr std::size_t kSpaOffset = kShaOffset + kArpMacBytes;
constexpr std::size_t kThaOffset = kSpaOffset + kArpIpv4Bytes;
constexpr std::size_t kTpaOffset = kThaOffset + kArpMacBytes;
static_assert(kArpEthernetHeaderBytes == kEthertypeOffset + 2);
static_assert(kArpFrameBytes == kTpaOffset + kArpIpv4Bytes);

constexpr std::uint16_t kEthertypeArp = 0x0806;
constexpr std::uint16_t kHardwareEthernet = 1;
constexpr std::uint16_t kProtocolIpv4 = 0x0800;
constexpr std::uint16_t kOperationRequest = 1;
constexpr std::uint16_t kOperationReply = 2;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void Write16(ArpFrame& frame, std::size_t at, std::uint16_t value) {
  frame[at] = static_cast<std::uint8_t>(value >> 8);
  frame[at + 1] = static_cast<std::uint8_t>(value & 0xFFu);
}

void WriteMac(ArpFrame& frame, std::size_t at, std::uint64_t mac) {
  for (std::size_t i = 0; i < kArpMacBytes; ++i) {
    frame[at + i] = static_cast<std::uint8_t>(mac >> (8 * (kArpMacBytes - 1 - i)));
  }
}

}  // namespace

bool ArpRequestTarget(std::span<const std::uint8_t> frame, std::uint32_t& ip) {
  if (frame.size() < kArpFrameBytes || Read16(frame, kEthertypeOffset) != kEthertypeArp ||
      Read16(frame, kHtypeOffset) != kHardwareEthernet ||
      Read16(frame, kPtypeOffset) != kProtocolIpv4 || frame[kHlenOffset] != kArpMacBytes ||
      frame[kPlenOffset] != kArpIpv4Bytes || Read16(frame, kOperOffset) != kOperationRequest) {
    return false;
  }
  std::memcpy(&ip, &frame[kTpaOffset], kArpIpv4Bytes);
  return true;
}

ArpFrame ArpReplyFrame(std::uint64_t holder, std::uint32_t ip, std::uint64_t asker) {
  ArpFrame frame{};
  WriteMac(frame, kDestinationOffset, asker);
  WriteMac(frame, kSourceOffset, holder);
  Write16(frame, kEthertypeOffset, kEthertypeArp);
  Write16(frame, kHtypeOffset, kHardwareEthernet);
  Write16(frame, kPtypeOffset, kProtocolIpv4);
  frame[kHlenOffset] = kArpMacBytes;
  frame[kPlenOffset] = kArpIpv4Bytes;
  Write16(frame, kOperOffset, kOperationReply);
  WriteMac(frame, kShaOffset, holder);
  std::memcpy(&frame[kSpaOffset], &ip, kArpIpv4Bytes);
  WriteMac(frame, kThaOffset, asker);
  return frame;
}

}  // namespace quillnet
