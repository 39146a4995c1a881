#include "bootp/address_check.h"

#include <cstdint>
#include <cstdio>

namespace quillnet {
namespace {

struct DottedNumbers {
  int parts[4] = {};
};

// Reads "%d.%d.%d.%d" as scanf does; false when fewer than four numbers are read.
bool ReadDotted(const std::string& text, DottedNumbers& numbers) {
  return std::sscanf(text.c_str(), "%d.%d.%d.%d", &numbers.parts[0], &numbers.parts[1],
                     &numbers.parts[2], &numbers.parts[3]) == 4;
}

std::uint32_t Combine(const DottedNumbers& numbers) {
  std::uint32_t value = 0;
  for (const int part : numbers.parts) value = (value << 8) + static_cast<std::uint32_t>(part);
  return value;
}

// Neither 0 nor all ones, and its one bits contiguous from bit 31 down.
bool IsContiguousMask(std::uint32_t mask) {
  if (mask == 0 || mask == 0xFFFFFFFFu) return false;
  const std::uint32_t hostBits = ~mask;
  return (hostBits & (hostBits + 1)) == 0;
}

}  // namespace

std::string SubnetPrefix(const std::string& localIpAddress) {
  const auto lastDot = localIpAddress.rfind('.');
  if (lastDot == std::string::npos) return {};
  return localIpAddress.substr(0, lastDot + 1);
}

bool ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask,
                       const std::string& subnetPrefix, std::string& resultLine) {
  resultLine.clear();
  if (ipAddress.find(subnetPrefix) == std::string::npos) {
    resultLine = "WARNING: this address is in a different Subnet.";
  }

  DottedNumbers maskNumbers;
  if (!ReadDotted(subnetMask, maskNumbers)) return false;
  DottedNumbers ipNumbers;
  if (!ReadDotted(ipAddress, ipNumbers)) return false;
  const std::uint32_t mask = Combine(maskNumbers);
  const std::uint32_t ip = Combine(ipNumbers);
  const int firstPart = ipNumbers.parts[0];

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
  if (ipAddress == "0.0.0.0") {
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

}  // namespace quillnet
