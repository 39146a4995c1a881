#include "bootp/address_check.h"

#include <cstdint>

#include "platform/ipv4_text.h"

namespace quillnet {
namespace {

constexpr char kSubnetWarning[] = "WARNING: this address is in a different Subnet.";

// The address in host byte order, so that its first part is its top byte.
bool ReadHostOrder(const std::string& text, std::uint32_t& value) {
  std::uint32_t address = 0;
  if (!ReadIpv4Text(text, address)) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
  value = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
          (std::uint32_t{bytes[2]} << 8) | bytes[3];
  return true;
}

// Neither 0 nor all ones, and its one bits contiguous from bit 31 down.
bool IsContiguousMask(std::uint32_t mask) {
  if (mask == 0 || mask == 0xFFFFFFFFu) return false;
  const std::uint32_t hostBits = ~mask;
  return (hostBits & (hostBits + 1)) == 0;
}

// Whether the device at `ip` with `mask` and the PC are apart: either lies outside the
// other's subnet. Without the PC's mask (or the device's numbers) only the PC's prefix can be
// looked for in the text.
bool InDifferentSubnet(const std::string& ipAddress, const std::string& subnetMask,
                       const LocalNetwork& local) {
  if (local.ipAddress.empty()) return false;
  std::uint32_t ip = 0;
  std::uint32_t mask = 0;
  std::uint32_t pc = 0;
  std::uint32_t pcMask = 0;
  if (!ReadHostOrder(ipAddress, ip) || !ReadHostOrder(subnetMask, mask) ||
      !ReadHostOrder(local.ipAddress, pc) || !ReadHostOrder(local.subnetMask, pcMask) ||
      !IsContiguousMask(pcMask)) {
    return ipAddress.find(SubnetPrefix(local.ipAddress)) == std::string::npos;
  }
  return (ip & pcMask) != (pc & pcMask) || (pc & mask) != (ip & mask);
}

}  // namespace

std::string SubnetPrefix(const std::string& localIpAddress) {
  const auto lastDot = localIpAddress.rfind('.');
  if (lastDot == std::string::npos) return {};
  return localIpAddress.substr(0, lastDot + 1);
}

bool ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask,
                       const LocalNetwork& local, std::string& resultLine) {
  resultLine.clear();
  if (InDifferentSubnet(ipAddress, subnetMask, local)) resultLine = kSubnetWarning;

  std::uint32_t mask = 0;
  if (!ReadHostOrder(subnetMask, mask)) return false;
  std::uint32_t ip = 0;
  if (!ReadHostOrder(ipAddress, ip)) return false;
  const std::uint32_t firstPart = ip >> 24;

  if (!IsContiguousMask(mask)) {
    resultLine = "ERROR: Invalid Subnet Mask.";
    return false;
  }
  if (firstPart >= 224 && firstPart <= 239) {
    resultLine = "ERROR: Can't assign a Multicast address.";
    return false;
  }
  if (firstPart == 127) {
    resultLine = "ERROR: Loopback IP range.";
    return false;
  }
  if (ip == 0) {
    resultLine = "ERROR: Invalid IP address.";
    return false;
  }
  if ((ip & mask) == mask) {
    resultLine = "ERROR: Invalid IP address (Network portion).";
    return false;
  }
  const std::uint32_t host = ip & ~mask;
  if (host == 0 || host == ~mask) {
    resultLine = "ERROR: Invalid IP address (Host portion).";
    return false;
  }
  return true;
}

std::string GatewayWarning(const std::string& ipAddress, const std::string& subnetMask,
                           const std::string& defaultGateway) {
  std::uint32_t ip = 0;
  std::uint32_t mask = 0;
  std::uint32_t gateway = 0;
  if (!ReadHostOrder(ipAddress, ip) || !ReadHostOrder(subnetMask, mask) ||
      !ReadHostOrder(defaultGateway, gateway) || gateway == 0) {
    return {};
  }
  if (gateway == ip) return "WARNING: the default gateway is the device's own address.";
  if ((gateway & mask) != (ip & mask)) {
    return "WARNING: the default gateway is outside the device's subnet.";
  }
  if ((gateway & ~mask) == 0) {
    return "WARNING: the default gateway is the network address of the device's subnet.";
  }
  if ((gateway & ~mask) == ~mask) {
    return "WARNING: the default gateway is the broadcast address of the device's subnet.";
  }
  return {};
}

}  // namespace quillnet
