#include "app/firewall_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillnet {
namespace {

const std::string kProgram = "C:\\Program Files\\Varnholt\\Quillnet\\Quillnet.exe";

FirewallRule Rule(const char* name, bool allows, const char* ports = "67",
                  std::string program = kProgram, std::uint32_t profiles = kFirewallAllProfiles) {
  FirewallRule rule;
  rule.name = name;
  rule.enabled = true;
  rule.allows = allows;
  rule.protocol = kFirewallUdp;
  rule.localPorts = ports;
  rule.program = std::move(program);
  rule.profiles = profiles;
  return rule;
}

// A PC on a public network, with the firewall on and blocking what no rule allows, as
// Windows sets it up.
FirewallReading OnAPublicNetwork(std::vector<FirewallRule> rules) {
  FirewallReading reading;
  reading.kind = FirewallReading::Kind::kWindowsFirewall;
  reading.activeProfiles = kFirewallPublic;
  reading.enabledProfiles = kFirewallAllProfiles;
  reading.blockingProfiles = kFirewallAllProfiles;
  reading.inboundRules = std::move(rules);
  return reading;
}

TEST(FirewallCheck, WindowsFirewallLetsPort67InOnlyThroughARuleForThisProgram) {
  FirewallRule disabled = Rule("Quillnet", true);
  disabled.enabled = false;
  FirewallRule tcp = Rule("TCP only", true, "*", "");
  tcp.protocol = 6;
  FirewallRule anyProtocol = Rule("Everything", true, "*", "");
  anyProtocol.protocol = kFirewallAnyProtocol;
  const struct {
    const char* name;
    FirewallReading reading;
    FirewallCheck::Verdict verdict;
    std::string finding;
  } cases[] = {
      {"the installer's rule", OnAPublicNetwork({Rule("Quillnet", true)}),
       FirewallCheck::Verdict::kLetsThrough, "the rule \"Quillnet\" lets UDP port 67 in"},
      {"no rule", OnAPublicNetwork({}), FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"a rule for another program", OnAPublicNetwork({Rule("Other", true, "67", "C:\\Other.exe")}),
       FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"a disabled rule", OnAPublicNetwork({disabled}), FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"private networks only",
       OnAPublicNetwork({Rule("Quillnet", true, "67", kProgram, kFirewallPrivate)}),
       FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"another port", OnAPublicNetwork({Rule("Quillnet", true, "68,100-200")}),
       FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"a range and any program", OnAPublicNetwork({Rule("Servers", true, "53,60-70", "")}),
       FirewallCheck::Verdict::kLetsThrough, "the rule \"Servers\" lets UDP port 67 in"},
      {"TCP does not count", OnAPublicNetwork({tcp}), FirewallCheck::Verdict::kBlocks,
       "it blocks UDP port 67 in on public networks: no rule lets it in for this program."},
      {"any protocol counts", OnAPublicNetwork({anyProtocol}), FirewallCheck::Verdict::kLetsThrough,
       "the rule \"Everything\" lets UDP port 67 in"},
      {"a block rule wins",
       OnAPublicNetwork({Rule("Quillnet", true), Rule("No DHCP", false, "67-68", "")}),
       FirewallCheck::Verdict::kBlocks,
       "the rule \"No DHCP\" blocks UDP port 67 in for every program."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FirewallCheck check = CheckFirewall(c.reading, kProgram);
    EXPECT_EQ(check.firewall, FirewallName());
    EXPECT_EQ(check.verdict, c.verdict);
    ASSERT_EQ(check.findings.size(), 1u);
    EXPECT_EQ(check.findings[0], c.finding);
    if (c.verdict == FirewallCheck::Verdict::kBlocks) {
      EXPECT_EQ(
          check.fix,
          "In a command prompt run as administrator: netsh advfirewall firewall add rule "
          "name=\"Quillnet\" dir=in action=allow program=\"" +
              kProgram +
              "\" protocol=UDP localport=67 profile=any (Quillnet's installer adds this rule).");
    }
  }
}

TEST(FirewallCheck, OffOrAllowingByDefaultItLetsBootpInAndUnreadItIsNotChecked) {
  FirewallReading off = OnAPublicNetwork({});
  off.enabledProfiles = kFirewallDomain | kFirewallPrivate;
  EXPECT_EQ(CheckFirewall(off, kProgram).verdict, FirewallCheck::Verdict::kLetsThrough);
  EXPECT_EQ(CheckFirewall(off, kProgram).findings.at(0), "it is off on the networks this PC is on");

  FirewallReading allowing = OnAPublicNetwork({});
  allowing.blockingProfiles = kFirewallDomain;
  EXPECT_EQ(CheckFirewall(allowing, kProgram).verdict, FirewallCheck::Verdict::kLetsThrough);

  FirewallReading unread;
  unread.why = "it did not say which networks this PC is on";
  const FirewallCheck notChecked = CheckFirewall(unread, kProgram);
  EXPECT_EQ(notChecked.verdict, FirewallCheck::Verdict::kNotChecked);
  EXPECT_EQ(notChecked.findings,
            std::vector<std::string>{"it did not say which networks this PC is on"});
}

#ifdef _WIN32
TEST(FirewallCheck, ARuleNamesItsProgramAsWindowsComparesFileNames) {
  const FirewallCheck check = CheckFirewall(
      OnAPublicNetwork(
          {Rule("Quillnet", true, "67", "%ProgramFiles%\\varnholt\\quillnet\\QUILLNET.EXE")}),
      "C:\\Program Files\\Varnholt\\Quillnet\\Quillnet.exe");
  EXPECT_EQ(check.verdict, FirewallCheck::Verdict::kLetsThrough);
}
#endif

}  // namespace
}  // namespace quillnet
