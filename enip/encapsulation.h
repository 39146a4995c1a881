#pragma once

// EtherNet/IP explicit messages as bytes: the encapsulation header, RegisterSession,
// UnRegisterSession, and SendRRData carrying one CIP request to the TCP/IP Interface object.
// Every field is little-endian. Replies come from the network: each length is checked.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillnet::enip {

inline constexpr std::uint16_t kPort = 44818;

// The encapsulation header.
inline constexpr std::size_t kCommandOffset = 0;
inline constexpr std::size_t kLengthOffset = 2;
inline constexpr std::size_t kSessionOffset = 4;
inline constexpr std::size_t kStatusOffset = 8;
inline constexpr std::size_t kContextOffset = 12;
inline constexpr std::size_t kContextSize = 8;
inline constexpr std::size_t kOptionsOffset = 20;
inline constexpr std::size_t kHeaderSize = 24;
static_assert(kLengthOffset == kCommandOffset + 2);
static_assert(kSessionOffset == kLengthOffset + 2);
static_assert(kStatusOffset == kSessionOffset + 4);
static_assert(kContextOffset == kStatusOffset + 4);
static_assert(kOptionsOffset == kContextOffset + kContextSize);
static_assert(kHeaderSize == kOptionsOffset + 4);

inline constexpr std::uint16_t kRegisterSession = 0x0065;
inline constexpr std::uint16_t kUnRegisterSession = 0x0066;
inline constexpr std::uint16_t kSendRRData = 0x006F;

// RegisterSession's data: protocol version, option flags.
inline constexpr std::uint16_t kProtocolVersion = 1;
inline constexpr std::size_t kRegisterDataSize = 4;

// SendRRData's data: interface handle, timeout, item count, then the items.
inline constexpr std::size_t kInterfaceHandleOffset = 0;
inline constexpr std::size_t kTimeoutOffset = 4;
inline constexpr std::size_t kItemCountOffset = 6;
inline constexpr std::size_t kItemsOffset = 8;
static_assert(kTimeoutOffset == kInterfaceHandleOffset + 4);
static_assert(kItemCountOffset == kTimeoutOffset + 2);
static_assert(kItemsOffset == kItemCountOffset + 2);
// Each item: type, length, then its bytes.
inline constexpr std::size_t kItemHeaderSize = 4;
inline constexpr std::uint16_t kNullAddressItem = 0x0000;
inline constexpr std::uint16_t kUnconnectedDataItem = 0x00B2;
inline constexpr std::uint16_t kRequestItemCount = 2;
// The request's router timeout, in seconds.
inline constexpr std::uint16_t kRequestTimeoutSeconds = 5;

// A CIP request: service, path size in 16-bit words, the path, then the service's data.
inline constexpr std::uint8_t kGetAttributeSingle = 0x0E;
inline constexpr std::uint8_t kSetAttributeSingle = 0x10;
inline constexpr std::uint8_t kReplyFlag = 0x80;
inline constexpr std::uint8_t kClassSegment = 0x20;
inline constexpr std::uint8_t kInstanceSegment = 0x24;
inline constexpr std::uint8_t kAttributeSegment = 0x30;
inline constexpr std::size_t kPathSize = 6;
inline constexpr std::size_t kRequestHeaderSize = 2 + kPathSize;
static_assert(kPathSize % 2 == 0);
// A CIP reply: service | 0x80, reserved, general status, additional status size in words,
// the additional status, then the data.
inline constexpr std::size_t kReplyServiceOffset = 0;
inline constexpr std::size_t kReplyStatusOffset = 2;
inline constexpr std::size_t kReplyAdditionalSizeOffset = 3;
inline constexpr std::size_t kReplyHeaderSize = 4;
static_assert(kReplyHeaderSize == kReplyAdditionalSizeOffset + 1);

// The longest reply taken: far above what the TCP/IP Interface object's attributes need, and a
// bound on what a device can make us read.
inline constexpr std::size_t kMaxReplyData = 4096;

// The TCP/IP Interface object, its one instance, and the attributes used.
inline constexpr std::uint8_t kTcpIpInterfaceClass = 0xF5;
inline constexpr std::uint8_t kTcpIpInterfaceInstance = 1;
inline constexpr std::uint8_t kConfigurationControl = 3;
inline constexpr std::uint8_t kInterfaceConfiguration = 5;

using SenderContext = std::array<std::uint8_t, kContextSize>;

struct EncapsulationHeader {
  std::uint16_t command = 0;
  std::uint16_t length = 0;  // of the data that follows the header
  std::uint32_t session = 0;
  std::uint32_t status = 0;
  SenderContext context{};
  std::uint32_t options = 0;
};

// `header` into the first kHeaderSize bytes of `out`.
void EncodeHeader(const EncapsulationHeader& header, std::span<std::uint8_t> out);
// The first kHeaderSize bytes of `bytes`; false when there are fewer.
bool DecodeHeader(std::span<const std::uint8_t> bytes, EncapsulationHeader& header);

// Whole messages, header and data.
std::vector<std::uint8_t> RegisterSessionRequest(const SenderContext& context);
std::vector<std::uint8_t> UnRegisterSessionRequest(std::uint32_t session,
                                                   const SenderContext& context);
std::vector<std::uint8_t> SendRRDataRequest(std::uint32_t session, const SenderContext& context,
                                            std::span<const std::uint8_t> cipRequest);

// A CIP request to attribute `attribute` of the TCP/IP Interface object's instance 1.
std::vector<std::uint8_t> CipRequest(std::uint8_t service, std::uint8_t attribute,
                                     std::span<const std::uint8_t> data = {});

struct CipReply {
  std::uint8_t generalStatus = 0;
  std::vector<std::uint8_t> data;
};

// Checks a RegisterSession reply (its header and data) and gives its session handle. `why`
// says what is wrong otherwise.
bool ParseRegisterSessionReply(const EncapsulationHeader& header,
                               std::span<const std::uint8_t> data, const SenderContext& context,
                               std::uint32_t& session, std::string& why);

// Checks a SendRRData reply to the request for `service` and takes the CIP reply out of its
// Unconnected Data item. A general status other than 0 is a reply too: the caller reads it.
bool ParseSendRRDataReply(const EncapsulationHeader& header, std::span<const std::uint8_t> data,
                          std::uint32_t session, const SenderContext& context,
                          std::uint8_t service, CipReply& reply, std::string& why);

// Little-endian fields.
std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

}  // namespace quillnet::enip
