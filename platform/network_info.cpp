#include <algorithm>
#include <utility>

#include "platform/ipv4_text.h"
#include "platform/network_info.h"

namespace quillnet {
namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr char kLoopbackAddress[] = "127.0.0.1";

std::vector<NetworkSnapshot::Link> LinksByIndex(const NetworkSnapshot& snapshot) {
  std::vector<NetworkSnapshot::Link> links = snapshot.links;
  std::stable_sort(links.begin(), links.end(),
                   [](const auto& a, const auto& b) { return a.index < b.index; });
  return links;
}

const NetworkSnapshot::Address* FirstAddressOf(const NetworkSnapshot& snapshot, int linkIndex) {
  for (const auto& address : snapshot.addresses) {
    if (address.linkIndex == linkIndex) return &address;
  }
  return nullptr;
}

}  // namespace

std::vector<RouteRow> BuildRouteRows(const NetworkSnapshot& snapshot) {
  std::vector<RouteRow> rows;
  const auto links = LinksByIndex(snapshot);
  bool loopbackUp = false;
  for (const auto& link : links) {
    if (link.loopback) {
      loopbackUp = loopbackUp || link.up;
      continue;
    }
    if (!link.up || !link.running || !link.broadcast) continue;
    if (const auto* address = FirstAddressOf(snapshot, link.index)) {
      rows.push_back({kLimitedBroadcast, kLimitedBroadcast, address->address, link.index});
    }
  }
  if (loopbackUp) {
    std::uint32_t loopback = 0;
    ReadIpv4Text(kLoopbackAddress, loopback);
    rows.push_back({kLimitedBroadcast, kLimitedBroadcast, loopback});
  }

  for (const auto& route : snapshot.routes) {
    const std::uint32_t mask = Ipv4MaskFromPrefix(route.prefixLength);
    // The per-interface rows above already stand for every limited-broadcast route.
    if (route.dest == kLimitedBroadcast && mask == kLimitedBroadcast) continue;
    std::uint32_t nextHop = route.gateway;
    if (nextHop == 0) nextHop = route.preferredSource;
    if (nextHop == 0) {
      if (const auto* address = FirstAddressOf(snapshot, route.linkIndex)) {
        nextHop = address->address;
      }
    }
    rows.push_back({route.dest, mask, nextHop});
  }
  return rows;
}

std::vector<AdapterInfo> BuildAdapterList(const NetworkSnapshot& snapshot) {
  std::vector<AdapterInfo> adapters;
  for (const auto& link : LinksByIndex(snapshot)) {
    if (link.loopback) continue;
    AdapterInfo adapter;
    adapter.index = link.index;
    adapter.name = link.name;
    for (const auto& address : snapshot.addresses) {
      if (address.linkIndex != link.index) continue;
      adapter.addresses.push_back(
          {Ipv4Text(address.address), Ipv4Text(Ipv4MaskFromPrefix(address.prefixLength))});
    }
    if (adapter.addresses.empty()) adapter.addresses.push_back({"0.0.0.0", "0.0.0.0"});
    adapter.gateway = "0.0.0.0";
    for (const auto& route : snapshot.routes) {
      if (route.prefixLength == 0 && route.linkIndex == link.index && route.gateway != 0) {
        adapter.gateway = Ipv4Text(route.gateway);
        break;
      }
    }
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

RouteCache::RouteCache(Reader read) : m_read(std::move(read)) {}

void RouteCache::Refresh() {
  std::vector<RouteRow> rows;
  const bool read = m_read(rows) == RouteQueryResult::kOk;
  std::lock_guard lock(m_mutex);
  m_current = read;
  m_rows = read ? std::move(rows) : std::vector<RouteRow>{};
}

void RouteCache::Drop() {
  std::lock_guard lock(m_mutex);
  m_current = false;
  m_rows.clear();
}

RouteQueryResult RouteCache::QueryRoutes(std::vector<RouteRow>& rows) {
  {
    std::lock_guard lock(m_mutex);
    if (m_current) {
      rows = m_rows;
      return RouteQueryResult::kOk;
    }
  }
  return m_read(rows);
}

}  // namespace quillnet
