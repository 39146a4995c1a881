#include "enip/encapsulation.h"

#include <algorithm>
#include <cstdio>

namespace quillnet::enip {

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(ReadU16(bytes, offset)) |
         static_cast<std::uint32_t>(ReadU16(bytes, offset + 2)) << 16;
}

void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  WriteU16(bytes, offset, static_cast<std::uint16_t>(value));
  WriteU16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

void EncodeHeader(const EncapsulationHeader& header, std::span<std::uint8_t> out) {
  WriteU16(out, kCommandOffset, header.command);
  WriteU16(out, kLengthOffset, header.length);
  WriteU32(out, kSessionOffset, header.session);
  WriteU32(out, kStatusOffset, header.status);
  std::copy(header.context.begin(), header.context.end(), out.begin() + kContextOffset);
  WriteU32(out, kOptionsOffset, header.options);
}

bool DecodeHeader(std::span<const std::uint8_t> bytes, EncapsulationHeader& header) {
  if (bytes.size() < kHeaderSize) return false;
  header.command = ReadU16(bytes, kCommandOffset);
  header.length = ReadU16(bytes, kLengthOffset);
  header.session = ReadU32(bytes, kSessionOffset);
  header.status = ReadU32(bytes, kStatusOffset);
  std::copy_n(bytes.begin() + kContextOffset, kContextSize, header.context.begin());
  header.options = ReadU32(bytes, kOptionsOffset);
  return true;
}

namespace {

std::vector<std::uint8_t> Message(std::uint16_t command, std::uint32_t session,
                                  const SenderContext& context, std::size_t dataSize) {
  std::vector<std::uint8_t> message(kHeaderSize + dataSize);
  EncapsulationHeader header;
  header.command = command;
  header.length = static_cast<std::uint16_t>(dataSize);
  header.session = session;
  header.context = context;
  EncodeHeader(header, message);
  return message;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// What every reply's header must say before its data is looked at.
bool CheckReplyHeader(const EncapsulationHeader& header, std::span<const std::uint8_t> data,
                      std::uint16_t command, const SenderContext& context, std::string& why) {
  if (header.command != command) {
    why = "a reply to command " + Hex(header.command, 4) + " instead of " + Hex(command, 4);
    return false;
  }
  if (header.status != 0) {
    why = "encapsulation status " + Hex(header.status, 4);
    return false;
  }
  if (header.context != context) {
    why = "a reply to another request (sender context)";
    return false;
  }
  if (data.size() != header.length) {
    why = "a reply of " + std::to_string(data.size()) + " bytes where its header says " +
          std::to_string(header.length);
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> RegisterSessionRequest(const SenderContext& context) {
  std::vector<std::uint8_t> message = Message(kRegisterSession, 0, context, kRegisterDataSize);
  WriteU16(message, kHeaderSize, kProtocolVersion);
  WriteU16(message, kHeaderSize + 2, 0);
  return message;
}

std::vector<std::uint8_t> UnRegisterSessionRequest(std::uint32_t session,
                                                   const SenderContext& context) {
  return Message(kUnRegisterSession, session, context, 0);
}

std::vector<std::uint8_t> SendRRDataRequest(std::uint32_t session, const SenderContext& context,
                                            std::span<const std::uint8_t> cipRequest) {
  const std::size_t dataSize = kItemsOffset + 2 * kItemHeaderSize + cipRequest.size();
  std::vector<std::uint8_t> message = Message(kSendRRData, session, context, dataSize);
  const std::span<std::uint8_t> data = std::span(message).subspan(kHeaderSize);
  WriteU32(data, kInterfaceHandleOffset, 0);
  WriteU16(data, kTimeoutOffset, kRequestTimeoutSeconds);
  WriteU16(data, kItemCountOffset, kRequestItemCount);
  WriteU16(data, kItemsOffset, kNullAddressItem);
  WriteU16(data, kItemsOffset + 2, 0);
  const std::size_t unconnected = kItemsOffset + kItemHeaderSize;
  WriteU16(data, unconnected, kUnconnectedDataItem);
  WriteU16(data, unconnected + 2, static_cast<std::uint16_t>(cipRequest.size()));
  std::copy(cipRequest.begin(), cipRequest.end(), data.begin() + unconnected + kItemHeaderSize);
  return message;
}

std::vector<std::uint8_t> CipRequest(std::uint8_t service, std::uint8_t attribute,
                                     std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> request(kRequestHeaderSize + data.size());
  const std::uint8_t header[] = {service,
                                 static_cast<std::uint8_t>(kPathSize / 2),
                                 kClassSegment,
                                 kTcpIpInterfaceClass,
                                 kInstanceSegment,
                                 kTcpIpInterfaceInstance,
                                 kAttributeSegment,
                                 attribute};
  static_assert(sizeof header == kRequestHeaderSize);
  std::copy(std::begin(header), std::end(header), request.begin());
  std::copy(data.begin(), data.end(), request.begin() + kRequestHeaderSize);
  return request;
}

bool ParseRegisterSessionReply(const EncapsulationHeader& header,
                               std::span<const std::uint8_t> data, const SenderContext& context,
                               std::uint32_t& session, std::string& why) {
  if (!CheckReplyHeader(header, data, kRegisterSession, context, why)) return false;
  if (data.size() < kRegisterDataSize) {
    why = "a RegisterSession reply of " + std::to_string(data.size()) + " bytes";
    return false;
  }
  if (header.session == 0) {
    why = "a RegisterSession reply without a session handle";
    return false;
  }
  session = header.session;
  return true;
}

bool ParseSendRRDataReply(const EncapsulationHeader& header, std::span<const std::uint8_t> data,
                          std::uint32_t session, const SenderContext& context,
                          std::uint8_t service, CipReply& reply, std::string& why) {
  if (!CheckReplyHeader(header, data, kSendRRData, context, why)) return false;
  if (header.session != session) {
    why = "a reply in another session";
    return false;
  }
  if (data.size() < kItemsOffset) {
    why = "a SendRRData reply of " + std::to_string(data.size()) + " bytes";
    return false;
  }
  const std::uint16_t count = ReadU16(data, kItemCountOffset);
  std::size_t offset = kItemsOffset;
  std::span<const std::uint8_t> cip;
  bool found = false;
  for (std::uint16_t item = 0; item < count; ++item) {
    if (data.size() - offset < kItemHeaderSize) {
      why = "a SendRRData reply whose items end early";
      return false;
    }
    const std::uint16_t type = ReadU16(data, offset);
    const std::size_t length = ReadU16(data, offset + 2);
    offset += kItemHeaderSize;
    if (data.size() - offset < length) {
      why = "a SendRRData reply whose item is longer than the reply";
      return false;
    }
    if (type == kUnconnectedDataItem && !found) {
      cip = data.subspan(offset, length);
      found = true;
    }
    offset += length;
  }
  if (!found) {
    why = "a SendRRData reply without an Unconnected Data item";
    return false;
  }
  if (cip.size() < kReplyHeaderSize) {
    why = "a CIP reply of " + std::to_string(cip.size()) + " bytes";
    return false;
  }
  if (cip[kReplyServiceOffset] != (service | kReplyFlag)) {
    why = "a CIP reply to service " + Hex(cip[kReplyServiceOffset] & ~kReplyFlag & 0xFF, 2) +
          " instead of " + Hex(service, 2);
    return false;
  }
  const std::size_t additional = 2 * std::size_t{cip[kReplyAdditionalSizeOffset]};
  if (cip.size() - kReplyHeaderSize < additional) {
    why = "a CIP reply whose additional status is longer than the reply";
    return false;
  }
  reply.generalStatus = cip[kReplyStatusOffset];
  const auto rest = cip.subspan(kReplyHeaderSize + additional);
  reply.data.assign(rest.begin(), rest.end());
  return true;
}

}  // namespace quillnet::enip
