#include "cli/doctor.h"

#include <map>
#include <set>
#include <tuple>

#include "bootp/bootp_server.h"
#include "cli/arguments.h"
#include "platform/ipv4_text.h"
#include "platform/net_helper.h"
#include "platform/network_info.h"
#include "platform/port_owners.h"
#include "platform/program_copy.h"
#include "platform/program_file.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet::cli {
namespace {

using nlohmann::json;

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;

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
      if (range.is_array() && range.size() == 2 && range[0].is_number() &&
          range[1].is_number() && range[0] <= port && port <= range[1]) {
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

}  // namespace

std::vector<std::string> FirewallFindings(std::string_view rulesetJson) {
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
                           (handle.is_number() ? handle.dump() : std::string("?")) + ") drops UDP port " +
                           std::to_string(chain->second.port) + " " + chain->second.direction +
                           ".");
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

namespace {

enum class Outcome { kOk, kFail, kWarning, kNotChecked };

// Prints one check's outcome; returns whether it passed.
bool Report(Output& output, const char* check, Outcome outcome, const std::string& text) {
  static const std::map<Outcome, std::pair<const char*, const char*>> kWords = {
      {Outcome::kOk, {"OK    ", "ok"}},
      {Outcome::kFail, {"FAIL  ", "fail"}},
      {Outcome::kWarning, {"WARN  ", "warning"}},
      {Outcome::kNotChecked, {"SKIP  ", "not checked"}}};
  const auto& [word, status] = kWords.at(outcome);
  output.Event("check", word + std::string(check) + ": " + text,
               {{"check", check}, {"status", status}, {"text", text}});
  return outcome != Outcome::kFail;
}

bool CheckPortOwners(Output& output) {
  const std::vector<PortOwner> owners = FindUdpPortOwners(BootPServer::kServerPort);
  if (owners.empty()) return Report(output, "port 67", Outcome::kOk, "free");
  return Report(output, "port 67", Outcome::kFail,
                "held by " + PortHoldersText(owners) +
                    ". Only one BOOTP or DHCP server can hold it: stop that program first.");
}

bool CheckPermission(Output& output) {
  if (MayBindPort(BootPServer::kServerPort)) {
    return Report(output, "permission", Outcome::kOk, "this program may bind UDP port 67");
  }
  // The programs hold no capability: the helper opens the port for them. Asking it is the
  // one sure test of the file, its capabilities and this user's group.
  NetHelperFailure failure;
  const int socket = OpenBootpSocketThroughHelper(failure);
  if (socket >= 0) SystemSocketApi().Close(socket);
  const std::string helper = FindNetHelper(RunningProgramPath());
  if (failure.error == 0 || failure.error == kWsaEaddrinuse) {
    return Report(output, "permission", Outcome::kOk,
                  helper + " opens UDP port 67 for this program");
  }
  return Report(output, "permission", Outcome::kFail,
                "this program may not bind UDP port 67: " + failure.text + ".");
}

// A warning at most: without probes the program still serves, it only skips the checks.
void CheckArpProbes(Output& output) {
  if (ProcessHasRawCapability()) {
    Report(output, "ARP probes", Outcome::kOk, "this program may send ARP probes");
    return;
  }
  std::string helper;
  const NetHelperFailure failure = CheckNetHelperProbes(helper);
  if (failure.error == 0) {
    Report(output, "ARP probes", Outcome::kOk, helper + " sends ARP probes for this program");
    return;
  }
  Report(output, "ARP probes", Outcome::kWarning,
         "this program cannot send ARP probes, so it cannot confirm that a device took its "
         "address nor find addresses in use: " + failure.text + ".");
}

// A warning at most: a small receive buffer only costs requests in a burst, and the devices
// ask again.
void CheckReceiveBuffer(Output& output) {
  SocketApi& sockets = SystemSocketApi();
  SocketHandle socket = kInvalidSocket;
  int granted = 0;
  const bool measured =
      sockets.Open(socket) == 0 &&
      sockets.SetReceiveBuffer(socket, BootPServer::kReceiveBufferBytes, granted) == 0;
  if (socket != kInvalidSocket) sockets.Close(socket);
  if (!measured) {
    Report(output, "receive buffer", Outcome::kNotChecked, "its size could not be measured");
    return;
  }
  const std::string size = std::to_string(granted / 1024) + " KiB";
  if (granted >= BootPServer::kReceiveBufferBytes) {
    Report(output, "receive buffer", Outcome::kOk,
           size + ", room for thousands of devices asking at once");
    return;
  }
  if (!ReceiveBufferCappedBySysctl()) {
    Report(output, "receive buffer", Outcome::kWarning,
           size + ", as much as the system grants: when hundreds of devices ask at once, some "
                  "of their requests are lost and those devices ask again seconds later.");
    return;
  }
  Report(output, "receive buffer", Outcome::kWarning,
         size + ", limited by net.core.rmem_max: when hundreds of devices ask at once, some of "
                "their requests are lost and those devices ask again seconds later. Raise the "
                "limit: sudo sysctl -w net.core.rmem_max=" +
             std::to_string(BootPServer::kReceiveBufferBytes) +
             " (and in a file under /etc/sysctl.d/ for every boot).");
}

bool CheckInterfaces(Output& output) {
  std::vector<RouteRow> rows;
  std::vector<AdapterInfo> adapters;
  if (SystemRouteSource().QueryRoutes(rows) != RouteQueryResult::kOk) rows.clear();
  if (SystemAdapterSource().QueryAdapters(adapters) != AdapterQueryResult::kOk) adapters.clear();
  std::uint32_t loopback = 0;
  ReadIpv4Text("127.0.0.1", loopback);
  std::string interfaces;
  for (const RouteRow& row : rows) {
    // The rows the reply is sent through: an interface's limited-broadcast host route.
    if (row.dest != kLimitedBroadcast || row.mask != kLimitedBroadcast || row.nextHop == loopback) {
      continue;
    }
    const std::string address = Ipv4Text(row.nextHop);
    std::string name = "?";
    for (const AdapterInfo& adapter : adapters) {
      for (const AdapterAddress& entry : adapter.addresses) {
        if (entry.ipAddress == address) name = adapter.name;
      }
    }
    interfaces += (interfaces.empty() ? "" : ", ") + name + " " + address + " (up, broadcast)";
  }
  if (interfaces.empty()) {
    return Report(output, "interfaces", Outcome::kFail,
                  "no interface can send a reply. Connect this PC to the device's network and "
                  "give that interface an IPv4 address.");
  }
  return Report(output, "interfaces", Outcome::kOk, "replies leave through " + interfaces);
}

void CheckFirewall(Output& output) {
  if (!FirewallReadable()) {
    Report(output, "firewall", Outcome::kNotChecked,
           "this program does not read this system's firewall rules; not checked. If a device "
           "gets no answer, let this program receive on UDP port 67 and send to UDP port 68.");
    return;
  }
  std::string ruleset;
  if (!ReadFirewallRuleset(ruleset)) {
    Report(output, "firewall", Outcome::kNotChecked,
           "the ruleset could not be read (nft missing, or not root); not checked");
    return;
  }
  const std::vector<std::string> findings = FirewallFindings(ruleset);
  if (findings.empty()) {
    Report(output, "firewall", Outcome::kOk, "no rule drops UDP port 67 in or 68 out");
    return;
  }
  for (const std::string& finding : findings) {
    Report(output, "firewall", Outcome::kWarning, finding + " Let BOOTP through while serving.");
  }
}

}  // namespace

int RunDoctor(Output& output) {
  // Every check runs, so one run lists every problem.
  bool passed = CheckPortOwners(output);
  passed = CheckPermission(output) && passed;
  CheckArpProbes(output);
  CheckReceiveBuffer(output);
  passed = CheckInterfaces(output) && passed;
  CheckFirewall(output);
  return passed ? kExitSent : kExitCheckFailed;
}

}  // namespace quillnet::cli
