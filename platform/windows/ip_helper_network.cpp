// Route rows and the adapter list from IP Helper (GetAdaptersAddresses, GetIpForwardTable2),
// handed to the same builders as the netlink snapshot on Linux. Windows keeps no
// per-interface limited-broadcast rows that say which interface each one leaves through, so
// they are built from the adapters as on Linux. Every query reads the system afresh: there is
// no watcher here that keeps a cache current, and a reply only reads the table once.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>

#include "platform/network_info.h"
#include "platform/windows/adapter_addresses.h"

namespace quillnet {
namespace {

constexpr int kIpv4Bits = 32;

RouteQueryResult ToRouteResult(WinAdapterResult result) {
  switch (result) {
    case WinAdapterResult::kOk:
      return RouteQueryResult::kOk;
    case WinAdapterResult::kNoMemory:
      return RouteQueryResult::kNoMemory;
    case WinAdapterResult::kFailed:
      break;
  }
  return RouteQueryResult::kFailed;
}

// The links and addresses of a snapshot, from the adapters.
void AddAdapters(const std::vector<WinAdapter>& adapters, NetworkSnapshot& snapshot) {
  for (const WinAdapter& adapter : adapters) {
    NetworkSnapshot::Link link;
    link.index = adapter.index;
    link.name = adapter.name;
    link.up = adapter.up;
    link.running = adapter.up;
    link.broadcast = adapter.ethernet;
    link.loopback = adapter.loopback;
    snapshot.links.push_back(std::move(link));
    for (const WinAdapter::Address& address : adapter.addresses) {
      snapshot.addresses.push_back({adapter.index, address.address, address.prefixLength});
    }
  }
}

// The IPv4 routes of the system's table, in its order.
RouteQueryResult AddRoutes(NetworkSnapshot& snapshot) {
  MIB_IPFORWARD_TABLE2* table = nullptr;
  const DWORD result = ::GetIpForwardTable2(AF_INET, &table);
  if (result == ERROR_NOT_ENOUGH_MEMORY) return RouteQueryResult::kNoMemory;
  // No route at all is an empty table, not a failure.
  if (result == ERROR_NOT_FOUND) return RouteQueryResult::kOk;
  if (result != NO_ERROR) return RouteQueryResult::kFailed;
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IPFORWARD_ROW2& row = table->Table[i];
    if (row.DestinationPrefix.Prefix.si_family != AF_INET) continue;
    NetworkSnapshot::Route route;
    route.dest = row.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr;
    route.prefixLength = std::min<int>(row.DestinationPrefix.PrefixLength, kIpv4Bits);
    route.gateway =
        row.NextHop.si_family == AF_INET ? row.NextHop.Ipv4.sin_addr.s_addr : std::uint32_t{0};
    route.linkIndex = static_cast<int>(row.InterfaceIndex);
    snapshot.routes.push_back(route);
  }
  ::FreeMibTable(table);
  return RouteQueryResult::kOk;
}

class WinRouteSource final : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) override {
    rows.clear();
    std::vector<WinAdapter> adapters;
    if (const auto read = ReadWinAdapters(adapters); read != WinAdapterResult::kOk) {
      return ToRouteResult(read);
    }
    NetworkSnapshot snapshot;
    AddAdapters(adapters, snapshot);
    if (const auto read = AddRoutes(snapshot); read != RouteQueryResult::kOk) return read;
    rows = BuildRouteRows(snapshot);
    return RouteQueryResult::kOk;
  }
};

class WinAdapterSource final : public AdapterSource {
 public:
  AdapterQueryResult QueryAdapters(std::vector<AdapterInfo>& list) override {
    list.clear();
    std::vector<WinAdapter> adapters;
    if (ReadWinAdapters(adapters) != WinAdapterResult::kOk) return AdapterQueryResult::kFailed;
    NetworkSnapshot snapshot;
    AddAdapters(adapters, snapshot);
    // The gateway is that of a default route; its absence leaves "0.0.0.0".
    if (AddRoutes(snapshot) != RouteQueryResult::kOk) snapshot.routes.clear();
    list = BuildAdapterList(snapshot);
    return list.empty() ? AdapterQueryResult::kNoData : AdapterQueryResult::kOk;
  }
};

}  // namespace

std::string RouteSource::InterfaceName(int index) const {
  std::vector<WinAdapter> adapters;
  if (index > 0 && ReadWinAdapters(adapters) == WinAdapterResult::kOk) {
    for (const WinAdapter& adapter : adapters) {
      if (adapter.index == index && !adapter.name.empty()) return adapter.name;
    }
  }
  return "interface " + std::to_string(index);
}

RouteSource& SystemRouteSource() {
  static WinRouteSource source;
  return source;
}

AdapterSource& SystemAdapterSource() {
  static WinAdapterSource source;
  return source;
}

}  // namespace quillnet
