// Windows only: what IP Helper gives the engine on this machine.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/ipv4_text.h"
#include "platform/neighbour_check.h"
#include "platform/network_info.h"
#include "platform/port_owners.h"
#include "platform/process_privileges.h"
#include "platform/program_file.h"
#include "tests/platform/loopback_sockets.h"

namespace quillnet {

int LoopbackInterfaceIndex() {
  ULONG size = 0;
  ::GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size);
  std::vector<std::uint8_t> buffer(size);
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (size == 0 || ::GetAdaptersAddresses(AF_INET, 0, nullptr, first, &size) != NO_ERROR) {
    return 0;
  }
  for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
    if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) return static_cast<int>(adapter->IfIndex);
  }
  return 0;
}

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

TEST(WindowsNetwork, RouteRowsFollowTheAdapters) {
  std::vector<RouteRow> rows;
  ASSERT_EQ(SystemRouteSource().QueryRoutes(rows), RouteQueryResult::kOk);
  std::vector<AdapterInfo> adapters;
  const AdapterQueryResult listed = SystemAdapterSource().QueryAdapters(adapters);
  ASSERT_TRUE(listed == AdapterQueryResult::kOk || listed == AdapterQueryResult::kNoData);

  // The loopback row, after one limited-broadcast row per interface in index order, each
  // leaving from an address that the adapter list names.
  std::uint32_t loopback = 0;
  ASSERT_TRUE(ReadIpv4Text("127.0.0.1", loopback));
  const auto loopbackRow =
      std::find(rows.begin(), rows.end(), RouteRow{kAllOnes, kAllOnes, loopback, 0});
  ASSERT_NE(loopbackRow, rows.end());
  int lastIndex = 0;
  for (auto row = rows.begin(); row != loopbackRow; ++row) {
    SCOPED_TRACE(Ipv4Text(row->nextHop));
    EXPECT_EQ(row->dest, kAllOnes);
    EXPECT_EQ(row->mask, kAllOnes);
    EXPECT_GT(row->interfaceIndex, lastIndex);
    lastIndex = row->interfaceIndex;
    const std::string name = SystemRouteSource().InterfaceName(row->interfaceIndex);
    const auto adapter = std::find_if(adapters.begin(), adapters.end(),
                                      [&](const AdapterInfo& a) { return a.name == name; });
    ASSERT_NE(adapter, adapters.end()) << name;
    EXPECT_EQ(adapter->addresses.front().ipAddress, Ipv4Text(row->nextHop));
  }
  // Every adapter is listed with at least one entry, dotted, loopback never.
  for (const AdapterInfo& adapter : adapters) {
    SCOPED_TRACE(adapter.name);
    ASSERT_FALSE(adapter.addresses.empty());
    for (const AdapterAddress& address : adapter.addresses) {
      std::uint32_t value = 0;
      EXPECT_TRUE(ReadIpv4Text(address.ipAddress, value));
      EXPECT_TRUE(ReadIpv4Text(address.ipMask, value));
      EXPECT_NE(address.ipAddress, "127.0.0.1");
    }
    std::uint32_t gateway = 0;
    EXPECT_TRUE(ReadIpv4Text(adapter.gateway, gateway));
  }
  EXPECT_EQ(SystemRouteSource().InterfaceName(1 << 30), "interface 1073741824");
}

TEST_F(LoopbackSockets, ThePortsHolderIsNamedWithItsProcess) {
  const std::vector<PortOwner> owners = FindUdpPortOwners(port);
  ASSERT_EQ(owners.size(), 1u);
  EXPECT_EQ(owners[0].pid, static_cast<int>(::GetCurrentProcessId()));
  const std::string program = RunningProgramPath();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(owners[0].name, program.substr(program.find_last_of('\\') + 1));
}

// Where SendARP is missing (Wine), a probe says so at once, and never claims an answer.
TEST(WindowsArp, AProbeThatCannotBeSentSaysWhy) {
  const std::vector<int> interfaces = ArpInterfaces();
  if (interfaces.empty()) GTEST_SKIP() << "no Ethernet interface to probe on";
  ProbeRequest request;
  request.interfaces = interfaces;
  ASSERT_TRUE(ReadIpv4Text("192.0.2.1", request.ip));
  request.duration = std::chrono::milliseconds(2000);
  const auto start = std::chrono::steady_clock::now();
  const ProbeResult result = SystemNeighbourCheck().Probe(request);
  const auto took = std::chrono::steady_clock::now() - start;
  if (ProcessHasRawCapability()) {
    EXPECT_NE(result.outcome, ProbeOutcome::kAnswered) << "192.0.2.1 is nobody's";
    return;
  }
  EXPECT_EQ(result.outcome, ProbeOutcome::kNotPossible);
  // In words, not as a bare code: the user is told what is missing.
  EXPECT_NE(result.reason.find("SendARP"), std::string::npos) << result.reason;
  EXPECT_LT(took, std::chrono::milliseconds(500));
}

// A device behind a router is asked with ICMP echo (IcmpSendEcho2), which needs no privilege:
// this PC's own loopback address answers it; an address nobody holds stays silent.
TEST(WindowsEcho, TheLoopbackAddressAnswersAndNobodyElse) {
  ProbeRequest request;
  request.echo = true;
  request.duration = std::chrono::milliseconds(10000);
  ASSERT_TRUE(ReadIpv4Text("127.0.0.1", request.ip));
  const ProbeResult answered = SystemNeighbourCheck().Probe(request);
  EXPECT_EQ(answered.outcome, ProbeOutcome::kAnswered) << answered.reason;

  // A documentation address (RFC 5737) that no network gives out.
  request.duration = std::chrono::milliseconds(1500);
  ASSERT_TRUE(ReadIpv4Text("198.51.100.1", request.ip));
  const ProbeResult silent = SystemNeighbourCheck().Probe(request);
  EXPECT_EQ(silent.outcome, ProbeOutcome::kSilent) << silent.reason;
}

}  // namespace
}  // namespace quillnet
