#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillnet {

// Windows Firewall's profiles, as its rules and policy name them (NET_FW_PROFILE2_*).
inline constexpr std::uint32_t kFirewallDomain = 0x1;
inline constexpr std::uint32_t kFirewallPrivate = 0x2;
inline constexpr std::uint32_t kFirewallPublic = 0x4;
inline constexpr std::uint32_t kFirewallAllProfiles = 0x7;
// A rule's protocol: IANA numbers, and this one for every protocol.
inline constexpr int kFirewallUdp = 17;
inline constexpr int kFirewallAnyProtocol = 256;

// One inbound rule of Windows Firewall, as INetFwRule gives it.
struct FirewallRule {
  std::string name;
  bool enabled = false;
  bool allows = false;  // else it blocks
  int protocol = kFirewallAnyProtocol;
  std::string localPorts = "*";  // "*", or ports and ranges separated by commas: "67,68,100-200"
  std::string program;           // the program it is for; "" for every program
  std::uint32_t profiles = kFirewallAllProfiles;
};

// What this system's firewall holds, as far as this program can read it; app/ decides what it
// means for BOOTP.
struct FirewallReading {
  enum class Kind {
    kNotRead,          // it could not be asked: `why`
    kNftRuleset,       // Linux: `nftRuleset`
    kWindowsFirewall,  // Windows: the profiles and rules below
  };
  Kind kind = Kind::kNotRead;
  std::string why;
  // `nft -j list ruleset`.
  std::string nftRuleset;
  // The profiles of the networks this PC is on, those where the firewall is on, and those
  // where it blocks what no rule allows.
  std::uint32_t activeProfiles = 0;
  std::uint32_t enabledProfiles = 0;
  std::uint32_t blockingProfiles = 0;
  std::vector<FirewallRule> inboundRules;
};

// The firewall's name for a person: "Windows Firewall", "nftables".
std::string FirewallName();

// Reads this system's firewall: on Linux the ruleset by /usr/sbin/nft from an empty
// environment, never an nft found on PATH (it needs root); on Windows the policy through
// INetFwPolicy2, which any user may read.
FirewallReading ReadFirewall();

// Whether two file names name the same file, as this system compares them: on Windows with
// environment variables expanded, regardless of case and with / read as \.
bool IsSameFile(const std::string& first, const std::string& second);

}  // namespace quillnet
