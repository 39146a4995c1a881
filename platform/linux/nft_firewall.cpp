// The firewall on Linux: nftables' ruleset, as `nft -j list ruleset` prints it.
#include <unistd.h>

#include "platform/firewall.h"
#include "platform/linux/run_program.h"

namespace quillnet {

std::string FirewallName() { return "nftables"; }

FirewallReading ReadFirewall() {
  FirewallReading reading;
  // Run as root, doctor must not run whatever `nft` a PATH names: only the system's own, by
  // its full path, from an empty environment.
  for (const char* nft : {"/usr/sbin/nft", "/sbin/nft"}) {
    if (::access(nft, X_OK) != 0) continue;
    if (RunProgram(nft, {"-j", "list", "ruleset"}, ProgramLookup::kExactPath, reading.nftRuleset) &&
        !reading.nftRuleset.empty()) {
      reading.kind = FirewallReading::Kind::kNftRuleset;
      return reading;
    }
    break;
  }
  reading.nftRuleset.clear();
  reading.why = "the ruleset could not be read (nft missing, or not root)";
  return reading;
}

bool IsSameFile(const std::string& first, const std::string& second) { return first == second; }

}  // namespace quillnet
