#include "app/firewall_check.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>
#include <map>

namespace quillnet {
namespace {

using nlohmann::json;

constexpr std::uint16_t kServerPort = 67;

// A chain of the ruleset: which way BOOTP crosses it and its default.
struct Chain {
  std::uint16_t port = 0;  // the BOOTP port it filters: 67 in, 68 out; 0 neither
  const char* direction = "";
  bool dropsByDefault = false;
  bool acceptsPort = false;
};

// The ruleset is read leniently: a member that is missing or of another type reads as null or
// "", never as an exception.
const json& Member(const json& object, const char* key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(key);
  return found == object.end() ? kNull : *found;
}

std::string Text(const json& object, const char* key) {
  const json& member = Member(object, key);
  return member.is_string() ? member.get<std::string>() : std::string();
}

bool IsPort(const json& value, std::uint16_t port) { return value.is_number() && value == port; }

// Whether a rule's expressions match UDP destination `port` (alone, in a set or a range).
bool MatchesPort(const json& expressions, std::uint16_t port) {
  for (const json& expression : expressions) {
    const json& match = Member(expression, "match");
    const json& left = Member(Member(match, "left"), "payload");
    if (Text(left, "field") != "dport" || Text(left, "protocol") != "udp") continue;
    const json& right = Member(match, "right");
    if (IsPort(right, port)) return true;
    const json& set = Member(right, "set");
    if (!set.is_array()) continue;
    for (const json& member : set) {
      if (IsPort(member, port)) return true;
      const json& range = Member(member, "range");
      if (range.is_array() && range.size() == 2 && range[0].is_number() && range[1].is_number() &&
          range[0] <= port && port <= range[1]) {
        return true;
      }
    }
  }
  return false;
}

std::string ChainName(const json& item) {
  return Text(item, "family") + " " + Text(item, "table") + " " +
         Text(item, item.contains("chain") ? "chain" : "name");
}

// Whether a rule's local ports ("*", or "67", "60-70", ... separated by commas) hold `port`.
bool HoldsPort(const std::string& ports, std::uint16_t port) {
  if (ports == "*") return true;
  std::size_t at = 0;
  while (at <= ports.size()) {
    const std::size_t comma = std::min(ports.find(',', at), ports.size());
    const std::string item = ports.substr(at, comma - at);
    const std::size_t dash = item.find('-');
    unsigned low = 0;
    unsigned high = 0;
    const char* first = item.data();
    const char* last = item.data() + (dash == std::string::npos ? item.size() : dash);
    if (auto [end, error] = std::from_chars(first, last, low);
        error == std::errc() && end == last) {
      high = low;
      if (dash != std::string::npos) {
        const char* to = item.data() + item.size();
        auto [rangeEnd, rangeError] = std::from_chars(item.data() + dash + 1, to, high);
        if (rangeError != std::errc() || rangeEnd != to) high = 0;
      }
      if (low <= port && port <= high) return true;
    }
    at = comma + 1;
  }
  return false;
}

std::string ProfileNames(std::uint32_t profiles) {
  std::vector<std::string> names;
  if (profiles & kFirewallDomain) names.push_back("domain");
  if (profiles & kFirewallPrivate) names.push_back("private");
  if (profiles & kFirewallPublic) names.push_back("public");
  std::string text;
  for (std::size_t index = 0; index < names.size(); ++index) {
    text += (index == 0 ? "" : index + 1 == names.size() ? " and " : ", ") + names[index];
  }
  return text;
}

// The program's name without its folder and .exe: the name its rule is given.
std::string RuleName(const std::string& programPath) {
  std::string name = programPath.substr(programPath.find_last_of("\\/") + 1);
  if (name.size() > 4 && (name.ends_with(".exe") || name.ends_with(".EXE"))) {
    name.resize(name.size() - 4);
  }
  return name.empty() ? "Quillnet" : name;
}

FirewallCheck CheckNftRuleset(const FirewallReading& reading) {
  FirewallCheck check;
  check.findings = NftFirewallFindings(reading.nftRuleset);
  if (check.findings.empty()) {
    check.verdict = FirewallCheck::Verdict::kLetsThrough;
    check.findings.push_back("no rule drops UDP port 67 in or 68 out");
    return check;
  }
  check.verdict = FirewallCheck::Verdict::kBlocks;
  check.fix = "Let BOOTP through while serving.";
  return check;
}

FirewallCheck CheckWindowsFirewall(const FirewallReading& reading, const std::string& programPath) {
  FirewallCheck check;
  check.verdict = FirewallCheck::Verdict::kLetsThrough;
  const std::uint32_t networks =
      reading.activeProfiles != 0 ? reading.activeProfiles : kFirewallAllProfiles;
  const std::uint32_t guarded = networks & reading.enabledProfiles;
  if (guarded == 0) {
    check.findings.push_back("it is off on the networks this PC is on");
    return check;
  }
  std::uint32_t allowed = 0;
  std::vector<std::string> allowing;
  for (const FirewallRule& rule : reading.inboundRules) {
    const bool applies = rule.enabled && (rule.profiles & guarded) != 0 &&
                         (rule.protocol == kFirewallUdp || rule.protocol == kFirewallAnyProtocol) &&
                         HoldsPort(rule.localPorts, kServerPort) &&
                         (rule.program.empty() || IsSameFile(rule.program, programPath));
    if (!applies) continue;
    if (rule.allows) {
      allowed |= rule.profiles;
      allowing.push_back("\"" + rule.name + "\"");
      continue;
    }
    check.verdict = FirewallCheck::Verdict::kBlocks;
    check.findings.push_back("the rule \"" + rule.name + "\" blocks UDP port 67 in for " +
                             (rule.program.empty() ? "every program." : "this program."));
  }
  if (const std::uint32_t unallowed = guarded & reading.blockingProfiles & ~allowed;
      check.verdict != FirewallCheck::Verdict::kBlocks && unallowed != 0) {
    check.verdict = FirewallCheck::Verdict::kBlocks;
    check.findings.push_back("it blocks UDP port 67 in on " + ProfileNames(unallowed) +
                             " networks: no rule lets it in for this program.");
  }
  if (check.verdict == FirewallCheck::Verdict::kBlocks) {
    check.fix =
        "In a command prompt run as administrator: netsh advfirewall firewall add rule name=\"" +
        RuleName(programPath) + "\" dir=in action=allow program=\"" + programPath +
        "\" protocol=UDP localport=67 profile=any (Quillnet's installer adds this rule).";
    return check;
  }
  std::string names;
  for (std::size_t index = 0; index < allowing.size(); ++index) {
    names += (index == 0 ? "" : index + 1 == allowing.size() ? " and " : ", ") + allowing[index];
  }
  check.findings.push_back(
      allowing.empty() ? "it lets UDP port 67 in"
                       : std::string(allowing.size() == 1 ? "the rule " : "the rules ") + names +
                             " let" + (allowing.size() == 1 ? "s" : "") + " UDP port 67 in");
  return check;
}

}  // namespace

std::vector<std::string> NftFirewallFindings(std::string_view rulesetJson) {
  const json ruleset = json::parse(rulesetJson, nullptr, false);
  std::vector<std::string> findings;
  const json& entries = Member(ruleset, "nftables");
  if (!entries.is_array()) return findings;
  std::map<std::string, Chain> chains;
  for (const json& entry : entries) {
    if (const json& chain = Member(entry, "chain"); chain.is_object()) {
      const std::string hook = Text(chain, "hook");
      Chain& known = chains[ChainName(chain)];
      if (hook == "input" || hook == "prerouting") known = {67, "in", false, false};
      if (hook == "output" || hook == "postrouting") known = {68, "out", false, false};
      known.dropsByDefault = Text(chain, "policy") == "drop";
    }
    const json& rule = Member(entry, "rule");
    if (!rule.is_object()) continue;
    const auto chain = chains.find(ChainName(rule));
    if (chain == chains.end() || chain->second.port == 0) continue;
    const json& expressions = Member(rule, "expr");
    if (!expressions.is_array() || !MatchesPort(expressions, chain->second.port)) continue;
    const json& handle = Member(rule, "handle");
    for (const json& expression : expressions) {
      if (!expression.is_object()) continue;
      if (expression.contains("accept")) chain->second.acceptsPort = true;
      if (expression.contains("drop") || expression.contains("reject")) {
        findings.push_back("chain " + chain->first + " (rule " +
                           (handle.is_number() ? handle.dump() : std::string("?")) +
                           ") drops UDP port " + std::to_string(chain->second.port) + " " +
                           chain->second.direction + ".");
      }
    }
  }
  for (const auto& [name, chain] : chains) {
    if (chain.port != 0 && chain.dropsByDefault && !chain.acceptsPort) {
      findings.push_back("chain " + name + " drops by default and accepts no UDP port " +
                         std::to_string(chain.port) + " " + chain.direction + ".");
    }
  }
  return findings;
}

FirewallCheck CheckFirewall(const FirewallReading& reading, const std::string& programPath) {
  FirewallCheck check;
  switch (reading.kind) {
    case FirewallReading::Kind::kNotRead:
      check.findings.push_back(reading.why);
      break;
    case FirewallReading::Kind::kNftRuleset:
      check = CheckNftRuleset(reading);
      break;
    case FirewallReading::Kind::kWindowsFirewall:
      check = CheckWindowsFirewall(reading, programPath);
      break;
  }
  check.firewall = FirewallName();
  return check;
}

}  // namespace quillnet
