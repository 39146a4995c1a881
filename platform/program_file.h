#pragma once

#include <string>

namespace quillnet {

// The full path of the running program's file; "" when it cannot be read.
std::string RunningProgramPath();

// The one command that lets the program at `programPath` bind the privileged BOOTP port
// without root: "sudo setcap cap_net_bind_service=+ep '<path>'".
std::string PortCapabilityCommand(const std::string& programPath);

}  // namespace quillnet
