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
  return Refusal{kExitRefused, std::string(name) + " '" + text +
                                   "' is not four numbers 0–255 separated by dots."};
}

// A finite number of seconds up to a day, above 0 or, when `zeroAllowed`, from 0.
bool ReadSeconds(const std::string& text, bool zeroAllowed, double& seconds) {
  double read = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, read);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(read) ||
      read < 0 || (read == 0 && !zeroAllowed) || read > kMaxTimeoutSeconds) {
    return false;
  }
  seconds = read == 0 ? 0 : read;  // -0 reads as 0
  return true;
}

}  // namespace

std::optional<Refusal> ReadMacArgument(const std::string& text, DeviceKey& key) {
  if (!ParseMacText(text, key)) {
    return Refusal{kExitUsage, "MAC address '" + text +
                                   "' is not six two-digit hexadecimal numbers separated by "
                                   "':' or '-'."};
  }
  if (key == 0) return Refusal{kExitUsage, "MAC address '" + text + "' is no device's address."};
  // The group bit, the low bit of the first octet.
  constexpr DeviceKey kGroupBit = DeviceKey{1} << 40;
  constexpr DeviceKey kBroadcast = 0xFFFFFFFFFFFF;
  if (key == kBroadcast) {
    return Refusal{kExitUsage,
                   "MAC address '" + text + "' is the broadcast address, no device's address."};
  }
  if ((key & kGroupBit) != 0) {
    return Refusal{kExitUsage,
                   "MAC address '" + text + "' is a multicast address, no device's address."};
  }
  return std::nullopt;
}

std::optional<Refusal> CheckAddresses(const AddressTexts& addresses,
                                      const LocalNetwork& local,
                                      std::vector<std::string>& warnings) {
  warnings.clear();
  if (auto refusal = CheckDottedQuad("IP address", addresses.ipAddress)) return refusal;
  if (auto refusal = CheckDottedQuad("Subnet mask", addresses.subnetMask)) return refusal;
  if (!addresses.defaultGateway.empty()) {
    if (auto refusal = CheckDottedQuad("Default gateway", addresses.defaultGateway)) {
      return refusal;
    }
  }
  std::string resultLine;
  if (!ValidateAddresses(addresses.ipAddress, addresses.subnetMask, local, resultLine)) {
    return Refusal{kExitRefused, resultLine};
  }
  if (!resultLine.empty()) warnings.push_back(resultLine);
  const std::string gateway = GatewayWarning(addresses.ipAddress, addresses.subnetMask,
                                             addresses.defaultGateway);
  if (!gateway.empty()) warnings.push_back(gateway);
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
                                            : "Unknown subcommand '" + std::string(first) + "'.";
  return Refusal{kExitUsage, problem + " Subcommands: " + list + "."};
}

}  // namespace quillnet::cli
