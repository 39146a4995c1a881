#include "cli/arguments.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "bootp/address_check.h"
#include "platform/ipv4_text.h"

namespace quillnet::cli {
namespace {

std::optional<Refusal> CheckDottedQuad(const char* name, const std::string& text) {
  std::uint32_t address = 0;
  if (ReadIpv4Text(text, address, LeadingZeros::kRefuse)) return std::nullopt;
  return Refusal{kExitRefused, std::string(name) + " " + QuotedInput(text) +
                                   " is not four numbers 0–255 separated by dots."};
}

// A finite number of seconds from a millisecond up to a day, or 0 when `zeroAllowed`.
bool ReadSeconds(const std::string& text, bool zeroAllowed, double& seconds) {
  double read = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, read);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(read) ||
      read < 0 || (read == 0 && !zeroAllowed) || (read != 0 && read < kMinTimeoutSeconds) ||
      read > kMaxTimeoutSeconds) {
    return false;
  }
  seconds = read == 0 ? 0 : read;  // -0 reads as 0
  return true;
}

// The length of the UTF-8 sequence of a printable character at the start of `text`; 0 for a
// control character, a broken or overlong sequence, or a surrogate.
std::size_t PrintableSequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
  std::size_t length = 0;
  char32_t code = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool c1Control = code >= 0x80 && code <= 0x9F;
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < kShortest[length] || code > 0x10FFFF || c1Control || surrogate) return 0;
  return length;
}

}  // namespace

std::string ShownInput(std::string_view text, std::size_t limit) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  std::size_t characters = 0;
  while (!text.empty()) {
    if (characters == limit) return shown + "…";
    ++characters;
    if (const std::size_t length = PrintableSequence(text); length != 0) {
      shown += text.substr(0, length);
      text.remove_prefix(length);
      continue;
    }
    const auto byte = static_cast<unsigned char>(text.front());
    shown += "\\x";
    shown += kDigits[byte >> 4];
    shown += kDigits[byte & 0x0F];
    text.remove_prefix(1);
  }
  return shown;
}

std::string QuotedInput(std::string_view text, std::size_t limit) {
  // Appended, not prepended: mingw's g++ 12 at -O3 warns falsely of a literal before a
  // temporary string.
  std::string quoted(1, '\'');
  quoted += ShownInput(text, limit);
  quoted += '\'';
  return quoted;
}

std::optional<Refusal> ReadMacArgument(const std::string& text, DeviceKey& key) {
  if (!ParseMacText(text, key)) {
    return Refusal{kExitUsage, "MAC address " + QuotedInput(text) +
                                   " is not six two-digit hexadecimal numbers separated by "
                                   "':' or '-'."};
  }
  if (key == 0) {
    return Refusal{kExitUsage, "MAC address " + QuotedInput(text) + " is no device's address."};
  }
  // The group bit, the low bit of the first octet.
  constexpr DeviceKey kGroupBit = DeviceKey{1} << 40;
  constexpr DeviceKey kBroadcast = 0xFFFFFFFFFFFF;
  if (key == kBroadcast) {
    return Refusal{kExitUsage,
                   "MAC address " + QuotedInput(text) +
                       " is the broadcast address, no device's address."};
  }
  if ((key & kGroupBit) != 0) {
    return Refusal{kExitUsage,
                   "MAC address " + QuotedInput(text) +
                       " is a multicast address, no device's address."};
  }
  return std::nullopt;
}

std::optional<Refusal> CheckAddresses(const AddressTexts& addresses, const DeviceNetwork& where,
                                      std::vector<std::string>& warnings) {
  warnings.clear();
  if (auto refusal = CheckDottedQuad("IP address", addresses.ipAddress)) return refusal;
  if (auto refusal = CheckDottedQuad("Subnet mask", addresses.subnetMask)) return refusal;
  if (!addresses.defaultGateway.empty()) {
    if (auto refusal = CheckDottedQuad("Default gateway", addresses.defaultGateway)) {
      return refusal;
    }
  }
  AddressVerdict verdict = CheckDeviceAddresses(addresses.ipAddress, addresses.subnetMask,
                                                addresses.defaultGateway, where);
  if (!verdict.ownHolder.empty()) {
    return Refusal{kExitRefused, "IP address " + addresses.ipAddress + " is in use by " +
                                     verdict.ownHolder + ". Give the device another address."};
  }
  if (!verdict.passed) return Refusal{kExitRefused, verdict.error};
  warnings = std::move(verdict.warnings);
  return std::nullopt;
}

bool ReadTimeout(const std::string& text, double& seconds) {
  return ReadSeconds(text, false, seconds);
}

bool ReadConfirm(const std::string& text, double& seconds) {
  return ReadSeconds(text, true, seconds);
}

std::optional<Refusal> CheckSubcommand(std::string_view first,
                                       std::span<const std::string_view> subcommands) {
  if (first.starts_with('-')) return std::nullopt;
  std::string list;
  for (const std::string_view name : subcommands) {
    if (name == first) return std::nullopt;
    list += list.empty() ? "" : ", ";
    list += name;
  }
  const std::string problem = first.empty() ? std::string("A subcommand is required.")
                                            : "Unknown subcommand " + QuotedInput(first) + ".";
  return Refusal{kExitUsage, problem + " Subcommands: " + list + "."};
}

}  // namespace quillnet::cli
