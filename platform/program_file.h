#pragma once

#include <string>

namespace quillnet {

// The full path of the running program's file; "" when it cannot be read.
std::string RunningProgramPath();

// The folder into which the system's installer put the programs, as the installer recorded
// it: on Windows the MSI's install folder; "" where no installer did or none records it.
std::string InstalledProgramFolder();

// Whether the file `path` lies directly in `folder` (named with or without its closing
// separator), compared as this system compares file names: on Windows regardless of case and
// with / read as \.
bool IsFileInFolder(const std::string& path, const std::string& folder);

// The one command that grants the program at `programPath` what it needs without root: the
// privileged BOOTP port, and the raw socket of its ARP probes.
// "sudo setcap cap_net_bind_service,cap_net_raw=+ep '<path>'"; "" where programs need no such
// grant (Windows lets any program bind the port and ask for ARP).
std::string CapabilityCommand(const std::string& programPath);

}  // namespace quillnet
