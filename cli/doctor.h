#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/output.h"
#include "platform/port_owners.h"

namespace quillnet::cli {

// What a firewall ruleset (`nft -j list ruleset`) does to BOOTP: rules that drop or reject UDP
// port 67 coming in or port 68 going out, and input or output chains that drop by default
// without accepting those ports. One line each; none when the ruleset lets BOOTP through or
// cannot be read as nft's JSON.
std::vector<std::string> FirewallFindings(std::string_view rulesetJson);

// Checks whether this PC can serve BOOTP: who holds UDP port 67, whether this program may bind
// it and send ARP probes, the interfaces a reply leaves through, and the firewall. Prints one
// line per check (OK, WARNING or FAIL with its fix); returns kExitSent when nothing failed,
// else kExitCheckFailed. Warnings (ARP probes, firewall) do not fail.
int RunDoctor(Output& output);

}  // namespace quillnet::cli
