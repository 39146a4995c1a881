#pragma once

#include <string>

namespace quillnet {

// The full path of the running program's file; "" when it cannot be read.
std::string RunningProgramPath();

// The one command that grants the program at `programPath` what it needs without root: the
// privileged BOOTP port, and the raw socket of its ARP probes.
// "sudo setcap cap_net_bind_service,cap_net_raw=+ep '<path>'"; "" where programs need no such
// grant (Windows lets any program bind the port and ask for ARP).
std::string CapabilityCommand(const std::string& programPath);

}  // namespace quillnet
