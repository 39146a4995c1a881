#pragma once

// The start-up method of an EtherNet/IP device, in its TCP/IP Interface object: read it, set
// it, and the sequence that makes a device keep the address it was just given.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "enip/explicit_session.h"
#include "platform/tcp_client.h"

namespace quillnet::enip {

// Configuration Control (attribute 3): bits 0-3 the start-up method, bit 4 DNS enabled, the
// rest reserved (0).
inline constexpr std::uint32_t kMethodMask = 0x0F;
inline constexpr std::uint32_t kDnsEnabled = 0x10;
inline constexpr std::size_t kConfigurationControlSize = 4;
// Interface Configuration (attribute 5) begins with the IP address, mask and gateway.
inline constexpr std::size_t kInterfaceAddressOffset = 0;
inline constexpr std::size_t kInterfaceMaskOffset = 4;
inline constexpr std::size_t kInterfaceGatewayOffset = 8;
inline constexpr std::size_t kInterfaceAddressesSize = 12;
static_assert(kInterfaceAddressesSize == kInterfaceGatewayOffset + 4);

enum class StartupMethod : std::uint32_t { kStored = 0, kBootp = 1, kDhcp = 2 };

// "stored configuration", "BOOTP", "DHCP", else "method N".
std::string StartupMethodName(std::uint32_t method);
// "stored", "bootp", "dhcp" as a user types them; nothing for another word.
std::optional<StartupMethod> ParseStartupMethod(std::string_view word);
// `control` with the method replaced, DNS kept as it is and the reserved bits cleared.
std::uint32_t WithMethod(std::uint32_t control, StartupMethod method);

// A CIP general status as the device's refusal is said: "attribute not settable" for 0x0E;
// "" for a code without a name here.
std::string GeneralStatusName(std::uint8_t status);

enum class MethodOutcome {
  kDone,             // kept, or read, or set and read back
  kNoDevice,         // refused or silent until the connect limit
  kRefused,          // a general status other than 0
  kOtherAddress,     // attribute 5 names another address than the one just given
  kReadBackDiffers,  // the method read back is not the one written
  kFailed,           // the exchange broke off (closed, malformed, no reply)
  kCancelled,
};

struct MethodResult {
  MethodOutcome outcome = MethodOutcome::kFailed;
  // The outcome in a sentence, for a page, a summary or the CLI.
  std::string text;
  // Configuration Control as last read (after a set: as read back).
  std::uint32_t configurationControl = 0;
  std::uint8_t generalStatus = 0;
  // Attribute 5's IP address (network byte order), once read.
  std::uint32_t reportedAddress = 0;
};

// One or two words for the outcome, for a record's column and JSON: "kept" (or "done" for
// ReadStartupMethod and SetStartupMethod), "no device", "refused", "another address",
// "read-back differs", "failed", "cancelled".
std::string MethodOutcomeWord(MethodOutcome outcome, bool keep);

// Makes the device at `target`, just given target.address, keep it: reads Configuration
// Control, reads Interface Configuration and goes on only if it holds target.address, writes
// method 0 (DNS kept, reserved bits 0), reads Configuration Control back.
MethodResult KeepAddress(TcpClient& tcp, const Target& target, const std::atomic<bool>* cancel,
                         const Timing& timing = {});
// Reads the device's start-up method.
MethodResult ReadStartupMethod(TcpClient& tcp, const Target& target,
                               const std::atomic<bool>* cancel, const Timing& timing = {});
// Sets the device's start-up method (DNS kept, reserved bits 0) and reads it back.
MethodResult SetStartupMethod(TcpClient& tcp, const Target& target, StartupMethod method,
                              const std::atomic<bool>* cancel, const Timing& timing = {});

}  // namespace quillnet::enip
