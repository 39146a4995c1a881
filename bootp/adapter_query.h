#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/network_info.h"

namespace quillnet {

// Picks this PC's adapter: the first one whose address is not "0.0.0.0" (else the last one),
// and writes its last address, its first mask and its gateway into the outputs. Returns false
// only when the system lists no adapter or cannot list them at all; the outputs are then
// untouched and the reason goes to standard output.
bool QueryLocalAdapter(AdapterSource& source, std::string& ipAddress, std::string& subnetMask,
                       std::string& defaultGateway);

// The same on this machine's adapters.
bool QueryLocalAdapter(std::string& ipAddress, std::string& subnetMask,
                       std::string& defaultGateway);

// This PC's address and mask on the interface with `interfaceIndex`, picked as above from that
// adapter's entries; false, leaving the outputs alone, when no adapter has that index or it
// has no address.
bool QueryInterfaceAddress(AdapterSource& source, int interfaceIndex, std::string& ipAddress,
                           std::string& subnetMask);

// An IPv4 address of one of this PC's interfaces. An ARP probe cannot find these: the PC does
// not answer its own probes, so they are compared as they are.
struct OwnAddress {
  std::uint32_t ip = 0;  // network byte order
  std::string interfaceName;
};

// The name of the interface in `own` that has `ip`; empty when none has it.
std::string InterfaceWith(const std::vector<OwnAddress>& own, std::uint32_t ip);

}  // namespace quillnet
