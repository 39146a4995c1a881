#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/firewall.h"

namespace quillnet {

// What the firewall does to BOOTP, decided once for doctor and the Listen page: whether it
// lets UDP port 67 in to this program (on Linux also port 68 out, the replies' way).
struct FirewallCheck {
  enum class Verdict { kNotChecked, kLetsThrough, kBlocks };
  Verdict verdict = Verdict::kNotChecked;
  std::string firewall;  // who was asked: "Windows Firewall", "nftables"
  // kBlocks: one sentence per rule or default that stops BOOTP; kLetsThrough: one that says
  // what lets it through; kNotChecked: why the firewall could not be read.
  std::vector<std::string> findings;
  // kBlocks: what lets BOOTP through.
  std::string fix;
};

// What a firewall ruleset (`nft -j list ruleset`) does to BOOTP: rules that drop or reject UDP
// port 67 coming in or port 68 going out, and input or output chains that drop by default
// without accepting those ports. One line each; none when the ruleset lets BOOTP through or
// cannot be read as nft's JSON.
std::vector<std::string> NftFirewallFindings(std::string_view rulesetJson);

// What `reading` means for UDP port 67 reaching the program at `programPath`. Windows
// Firewall: an enabled inbound block rule for UDP (or any protocol), port 67 (or any) and this
// program (or every program) in a profile of the networks this PC is on stops it, whatever
// allows it; where the firewall blocks by default, an allow rule of that kind must cover each
// such profile.
FirewallCheck CheckFirewall(const FirewallReading& reading, const std::string& programPath);

}  // namespace quillnet
