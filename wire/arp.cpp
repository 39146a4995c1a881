#include "wire/arp.h"

#include <cstring>

namespace quillnet {
namespace {

constexpr DeviceKey kBroadcastMac = 0xFFFFFFFFFFFFull;
constexpr std::uint32_t kUnspecifiedIp = 0;

void PutU16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t GetU16(const std::uint8_t* in) {
  return static_cast<std::uint16_t>(in[0] << 8 | in[1]);
}

void PutMac(std::uint8_t* out, DeviceKey mac) {
  for (std::size_t i = 0; i < kMacSize; ++i) {
    out[i] = static_cast<std::uint8_t>(mac >> (8 * (kMacSize - 1 - i)));
  }
}

DeviceKey GetMac(const std::uint8_t* in) {
  DeviceKey mac = 0;
  for (std::size_t i = 0; i < kMacSize; ++i) mac = mac << 8 | in[i];
  return mac;
}

ArpFrame BuildArpFrame(std::uint16_t operation, DeviceKey destination, DeviceKey senderMac,
                       std::uint32_t senderIp, DeviceKey targetMac, std::uint32_t targetIp) {
  ArpFrame frame{};
  std::uint8_t* const out = frame.data();
  PutMac(out + kEthernetDestinationOffset, destination);
  PutMac(out + kEthernetSourceOffset, senderMac);
  PutU16(out + kEthertypeOffset, kEthertypeArp);
  PutU16(out + kArpHtypeOffset, kArpHardwareEthernet);
  PutU16(out + kArpPtypeOffset, kArpProtocolIpv4);
  out[kArpHlenOffset] = kEthernetAddressLength;
  out[kArpPlenOffset] = kArpIpv4Length;
  PutU16(out + kArpOperOffset, operation);
  PutMac(out + kArpShaOffset, senderMac);
  std::memcpy(out + kArpSpaOffset, &senderIp, kAddressSize);
  PutMac(out + kArpThaOffset, targetMac);
  std::memcpy(out + kArpTpaOffset, &targetIp, kAddressSize);
  return frame;
}

}  // namespace

ArpFrame BuildArpProbe(DeviceKey senderMac, std::uint32_t targetIp) {
  return BuildArpFrame(kArpOperationRequest, kBroadcastMac, senderMac, kUnspecifiedIp, 0,
                       targetIp);
}

ArpFrame BuildArpReply(DeviceKey holder, std::uint32_t ip, DeviceKey asker) {
  return BuildArpFrame(kArpOperationReply, asker, holder, ip, asker, kUnspecifiedIp);
}

bool ParseArpFrame(std::span<const std::uint8_t> frame, ArpPacket& packet) {
  if (frame.size() < kArpFrameSize) return false;
  const std::uint8_t* const in = frame.data();
  const std::uint16_t operation = GetU16(in + kArpOperOffset);
  if (GetU16(in + kEthertypeOffset) != kEthertypeArp ||
      GetU16(in + kArpHtypeOffset) != kArpHardwareEthernet ||
      GetU16(in + kArpPtypeOffset) != kArpProtocolIpv4 ||
      in[kArpHlenOffset] != kEthernetAddressLength || in[kArpPlenOffset] != kArpIpv4Length ||
      (operation != kArpOperationRequest && operation != kArpOperationReply)) {
    return false;
  }
  packet.operation = operation;
  packet.senderMac = GetMac(in + kArpShaOffset);
  std::memcpy(&packet.senderIp, in + kArpSpaOffset, kAddressSize);
  packet.targetMac = GetMac(in + kArpThaOffset);
  std::memcpy(&packet.targetIp, in + kArpTpaOffset, kAddressSize);
  return true;
}

bool ArpClaimsAddress(const ArpPacket& packet, std::uint32_t ip, DeviceKey& holder) {
  if (packet.senderIp == kUnspecifiedIp || packet.senderIp != ip) return false;
  holder = packet.senderMac;
  return true;
}

}  // namespace quillnet
