// Untrusted bytes from the network: classification, the reply rewrite, DHCP options and the
// DHCP reply, MAC text parsing and ARP frames.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "bootp/answer_policy.h"
#include "wire/arp.h"
#include "wire/dhcp.h"
#include "wire/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillnet;

  // The receive step hands over a zeroed buffer and the received length.
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  std::memcpy(buffer.data(), data, size < buffer.size() ? size : buffer.size());
  const RequestVerdict verdict = ClassifyRequest(buffer, size);
  // Read as the server reads it: only up to the received length, exactly.
  const DhcpOptions options = ReadDhcpOptions(std::span(data, size), size);
  if (verdict.accepted && options.messageType != kBootpMessage) {
    // A reply to it reads back as built, whatever the request's options were.
    const DhcpReplyFields fields{kDhcpAck, options.requestedAddress, options.serverId,
                                 options.router, options.subnetMask};
    std::array<std::uint8_t, kDhcpMaxReplyLength> reply{};
    const std::size_t length = BuildDhcpReply(buffer, fields, reply);
    if (length == 0 || length > kDhcpMaxReplyLength) std::abort();
    const DhcpOptions back = ReadDhcpOptions(reply, length);
    if (back.messageType != kDhcpAck || back.serverId != fields.serverId ||
        back.subnetMask != fields.subnetMask || back.hasRouter != (fields.defaultGateway != 0) ||
        ReadDeviceKey(reply) != verdict.key) {
      std::abort();
    }
  }
  if (verdict.accepted) {
    // The policy's answer for an armed device, in the bytes the server sends: a reply keeps
    // the request's relay agent, where it goes, and fits the buffer.
    const Assignment armed{0x3201A8C0u, 0x00FFFFFFu, 0x0101A8C0u};
    PolicyRows rows;
    rows.armed = &armed;
    rows.firstAnswer = true;
    const PolicyAnswer answer = Decide({buffer, verdict.key, options}, rows);
    if (answer.kind == PolicyAnswer::Kind::kReply) {
      std::array<std::uint8_t, kMessageBufferSize> reply{};
      const std::size_t length = WriteAnswer(buffer, answer, reply);
      if (length < kMinRequestLength || length > kMessageBufferSize ||
          RelayOf(std::span(reply).first(length)) != RelayOf(buffer)) {
        std::abort();
      }
    }
    if (size < kMinRequestLength || size > kMessageBufferSize) std::abort();
    if (verdict.key >> 48 != 0) std::abort();
    if (ParseMacKey(FormatMacAddress(verdict.key)) != verdict.key) std::abort();

    const auto before = buffer;
    std::uint32_t addresses[3] = {};
    std::memcpy(addresses, buffer.data() + kVendOffset, sizeof addresses);
    BuildReply(buffer, addresses[0], addresses[1], addresses[2]);
    if (buffer[kOpOffset] != kOpBootReply || buffer[kEndOptionOffset] != kOptionEnd) std::abort();
    if (std::memcmp(buffer.data() + kReplyVendorEnd, before.data() + kReplyVendorEnd,
                    buffer.size() - kReplyVendorEnd) != 0 ||
        std::memcmp(buffer.data() + kXidOffset, before.data() + kXidOffset,
                    kYiaddrOffset - kXidOffset) != 0) {
      std::abort();
    }
  }

  // A frame read as ARP and probed for again: the probe keeps the fields it was built from,
  // and only the sender's own address is ever claimed.
  ArpPacket packet{};
  if (ParseArpFrame({data, size}, packet)) {
    if (size < kArpFrameSize || packet.senderMac >> 48 != 0 || packet.targetMac >> 48 != 0) {
      std::abort();
    }
    if (packet.operation != kArpOperationRequest && packet.operation != kArpOperationReply) {
      std::abort();
    }
    DeviceKey holder = 0;
    const bool claims = ArpClaimsAddress(packet, packet.senderIp, holder);
    if (claims != (packet.senderIp != 0) || (claims && holder != packet.senderMac)) std::abort();
    if (ArpClaimsAddress(packet, packet.targetIp, holder) && packet.targetIp != packet.senderIp) {
      std::abort();
    }

    const auto probe = BuildArpProbe(packet.senderMac, packet.targetIp);
    ArpPacket again{};
    if (!ParseArpFrame(probe, again) || again.operation != kArpOperationRequest ||
        again.senderMac != packet.senderMac || again.senderIp != 0 || again.targetMac != 0 ||
        again.targetIp != packet.targetIp || ArpClaimsAddress(again, again.senderIp, holder)) {
      std::abort();
    }
    // The bytes the probe shares with the frame it came from: ethertype to plen, sha and tpa.
    if (std::memcmp(probe.data() + kEthertypeOffset, data + kEthertypeOffset,
                    kArpOperOffset - kEthertypeOffset) != 0 ||
        std::memcmp(probe.data() + kArpShaOffset, data + kArpShaOffset, kMacSize) != 0 ||
        std::memcmp(probe.data() + kArpTpaOffset, data + kArpTpaOffset, kAddressSize) != 0) {
      std::abort();
    }
  }

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ParseMacKey(text);
  return 0;
}
