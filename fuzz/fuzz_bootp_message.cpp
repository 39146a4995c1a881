// Untrusted bytes from the network: classification, the reply rewrite and MAC text parsing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bootp/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillnet;

  // The receive step hands over a zeroed buffer and the received length.
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  std::memcpy(buffer.data(), data, size < buffer.size() ? size : buffer.size());
  const RequestVerdict verdict = ClassifyRequest(buffer, size);
  if (verdict.accepted) {
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

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ParseMacKey(text);
  return 0;
}
