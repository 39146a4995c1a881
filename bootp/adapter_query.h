#pragma once

#include <string>

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

}  // namespace quillnet
