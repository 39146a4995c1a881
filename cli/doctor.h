#pragma once

#include <string>

#include "cli/output.h"
#include "platform/port_owners.h"

namespace quillnet::cli {

// Checks whether this PC can serve BOOTP: who holds UDP port 67, whether this program may bind
// it and send ARP probes, the interfaces a reply leaves through, and the firewall. Prints one
// line per check (OK, WARNING or FAIL with its fix); returns kExitSent when nothing failed,
// else kExitCheckFailed. Warnings (ARP probes, firewall) do not fail. The firewall is this
// system's: nftables, or Windows Firewall and its rules for this program.
int RunDoctor(Output& output);

}  // namespace quillnet::cli
