#include "app/firewall_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/port_owners.h"

namespace quillnet::cli {
namespace {

using ::testing::ElementsAre;

// A ruleset as `nft -j list ruleset` prints it, with the given chains and rules.
std::string Ruleset(const std::string& entries) {
  return R"({"nftables": [{"metainfo": {"json_schema_version": 1}},
    {"table": {"family": "inet", "name": "filter", "handle": 1}}, )" +
         entries + "]}";
}

std::string Chain(const char* name, const char* hook, const char* policy) {
  return std::string(R"({"chain": {"family": "inet", "table": "filter", "name": ")") + name +
         R"(", "handle": 1, "type": "filter", "hook": ")" + hook + R"(", "prio": 0, "policy": ")" +
         policy + R"("}})";
}

std::string UdpRule(const char* chain, const std::string& right, const char* verdict) {
  return std::string(R"({"rule": {"family": "inet", "table": "filter", "chain": ")") + chain +
         R"(", "handle": 7, "expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "udp", "field": "dport"}}, "right": )" +
         right + "}}, {\"" + verdict + "\": null}]}}";
}

TEST(Doctor, FindsFirewallRulesThatStopBootp) {
  const struct {
    const char* name;
    std::string ruleset;
    std::vector<std::string> findings;
  } cases[] = {
      {"open", Ruleset(Chain("input", "input", "accept")), {}},
      {"drop 67 in", Ruleset(Chain("input", "input", "accept") + "," + UdpRule("input", "67", "drop")),
       {"chain inet filter input (rule 7) drops UDP port 67 in."}},
      {"reject a set holding 68 out",
       Ruleset(Chain("out", "output", "accept") + "," +
               UdpRule("out", R"({"set": [53, {"range": [60, 70]}]})", "reject")),
       {"chain inet filter out (rule 7) drops UDP port 68 out."}},
      {"port 68 in is no matter", Ruleset(Chain("input", "input", "accept") + "," + UdpRule("input", "68", "drop")), {}},
      {"policy drop", Ruleset(Chain("input", "input", "drop")),
       {"chain inet filter input drops by default and accepts no UDP port 67 in."}},
      {"policy drop with 67 accepted",
       Ruleset(Chain("input", "input", "drop") + "," + UdpRule("input", "67", "accept")), {}},
      {"not JSON", "table inet filter {", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(NftFirewallFindings(c.ruleset), c.findings) << c.name;
}

}  // namespace
}  // namespace quillnet::cli
