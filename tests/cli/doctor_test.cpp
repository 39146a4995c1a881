#include "cli/doctor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/capability.h>

#include <string>

#include "platform/port_owners.h"

namespace quillnet::cli {
namespace {

using ::testing::ElementsAre;

TEST(Doctor, ReadsTheUdpSocketsOfProc) {
  // As Linux 6.1 prints them: dnsmasq on 0.0.0.0:67 (0x43), a client on 68, one broken line.
  const auto rows = ParseProcNetUdp(
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops\n"
      "  313: 00000000:0043 00000000:0000 07 00000000:00000000 00:00000000 00000000   105"
      "        0 48213 2 0000000000000000 0\n"
      "  314: 0100007F:0044 00000000:0000 07 00000000:00000000 00:00000000 00000000     0"
      "        0 48999 2 0000000000000000 0\n"
      "  315: 00000000:zz44 00000000:0000 07 00000000:00000000 00:00000000 00000000     0\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].localPort, 67);
  EXPECT_EQ(rows[0].uid, 105u);
  EXPECT_EQ(rows[0].inode, 48213u);
  EXPECT_EQ(rows[1].localPort, 68);
  EXPECT_EQ(SocketInodeOfLink("socket:[48213]"), 48213u);
  EXPECT_EQ(SocketInodeOfLink("pipe:[48213]"), 0u);
  EXPECT_EQ(SocketInodeOfLink("socket:[48213"), 0u);
}

// Sets or clears CAP_NET_RAW in this process's effective set; false when it may not.
bool SetRawEffective(cap_flag_value_t value) {
  cap_t process = ::cap_get_proc();
  cap_value_t raw = CAP_NET_RAW;
  const bool ok = process != nullptr && ::cap_set_flag(process, CAP_EFFECTIVE, 1, &raw, value) == 0 &&
                  ::cap_set_proc(process) == 0;
  ::cap_free(process);
  return ok;
}

TEST(Doctor, SeesWhetherThisProcessMaySendArpProbes) {
  if (!SetRawEffective(CAP_SET)) {
    EXPECT_FALSE(ProcessHasRawCapability()) << "CAP_NET_RAW is not even permitted";
    GTEST_SKIP() << "raising CAP_NET_RAW needs it in the permitted set (CI runs as root)";
  }
  EXPECT_TRUE(ProcessHasRawCapability());
  // Permitted but not effective does not count: the socket would be refused.
  ASSERT_TRUE(SetRawEffective(CAP_CLEAR));
  const bool withoutIt = ProcessHasRawCapability();
  ASSERT_TRUE(SetRawEffective(CAP_SET));
  EXPECT_FALSE(withoutIt);
}

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
  for (const auto& c : cases) EXPECT_EQ(FirewallFindings(c.ruleset), c.findings) << c.name;
}

}  // namespace
}  // namespace quillnet::cli
