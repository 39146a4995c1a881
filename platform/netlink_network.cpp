// Reads links, IPv4 addresses and IPv4 routes from the kernel over rtnetlink (libnl-route-3)
// and hands them to the pure builders of network_info.cpp.
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "platform/network_info.h"

namespace quillnet {
namespace {

struct SocketDeleter {
  void operator()(nl_sock* socket) const { nl_socket_free(socket); }
};
struct CacheDeleter {
  void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
using NlSocket = std::unique_ptr<nl_sock, SocketDeleter>;
using NlCache = std::unique_ptr<nl_cache, CacheDeleter>;

enum class ReadResult { kOk, kNoMemory, kFailed };

ReadResult FromNlError(int error) {
  return error == -NLE_NOMEM ? ReadResult::kNoMemory : ReadResult::kFailed;
}

// An IPv4 nl_addr in network byte order; 0 when absent or of another family.
std::uint32_t Ipv4Of(nl_addr* address) {
  if (address == nullptr || nl_addr_get_family(address) != AF_INET ||
      nl_addr_get_len(address) != sizeof(std::uint32_t)) {
    return 0;
  }
  std::uint32_t value = 0;
  std::memcpy(&value, nl_addr_get_binary_addr(address), sizeof value);
  return value;
}

template <typename Object, typename Visit>
void ForEach(nl_cache* cache, Visit visit) {
  for (nl_object* object = nl_cache_get_first(cache); object != nullptr;
       object = nl_cache_get_next(object)) {
    visit(reinterpret_cast<Object*>(object));
  }
}

ReadResult ReadSnapshot(NetworkSnapshot& snapshot) {
  NlSocket socket(nl_socket_alloc());
  if (!socket) return ReadResult::kNoMemory;
  if (const int error = nl_connect(socket.get(), NETLINK_ROUTE); error < 0) {
    return FromNlError(error);
  }

  nl_cache* raw = nullptr;
  if (const int error = rtnl_link_alloc_cache(socket.get(), AF_UNSPEC, &raw); error < 0) {
    return FromNlError(error);
  }
  NlCache links(raw);
  ForEach<rtnl_link>(links.get(), [&](rtnl_link* link) {
    const unsigned flags = rtnl_link_get_flags(link);
    const char* name = rtnl_link_get_name(link);
    snapshot.links.push_back({rtnl_link_get_ifindex(link), name != nullptr ? name : "",
                              (flags & IFF_UP) != 0, (flags & IFF_RUNNING) != 0,
                              (flags & IFF_BROADCAST) != 0, (flags & IFF_LOOPBACK) != 0});
  });

  raw = nullptr;
  if (const int error = rtnl_addr_alloc_cache(socket.get(), &raw); error < 0) {
    return FromNlError(error);
  }
  NlCache addresses(raw);
  ForEach<rtnl_addr>(addresses.get(), [&](rtnl_addr* address) {
    if (rtnl_addr_get_family(address) != AF_INET) return;
    snapshot.addresses.push_back({rtnl_addr_get_ifindex(address),
                                  Ipv4Of(rtnl_addr_get_local(address)),
                                  rtnl_addr_get_prefixlen(address)});
  });

  raw = nullptr;
  if (const int error = rtnl_route_alloc_cache(socket.get(), AF_INET, 0, &raw); error < 0) {
    return FromNlError(error);
  }
  NlCache routes(raw);
  ForEach<rtnl_route>(routes.get(), [&](rtnl_route* route) {
    if (rtnl_route_get_family(route) != AF_INET || rtnl_route_get_table(route) != RT_TABLE_MAIN ||
        rtnl_route_get_type(route) != RTN_UNICAST) {
      return;
    }
    NetworkSnapshot::Route row;
    nl_addr* dest = rtnl_route_get_dst(route);
    row.dest = Ipv4Of(dest);
    row.prefixLength = dest != nullptr ? static_cast<int>(nl_addr_get_prefixlen(dest)) : 0;
    row.preferredSource = Ipv4Of(rtnl_route_get_pref_src(route));
    if (rtnl_route_get_nnexthops(route) > 0) {
      rtnl_nexthop* hop = rtnl_route_nexthop_n(route, 0);
      row.gateway = Ipv4Of(rtnl_route_nh_get_gateway(hop));
      row.linkIndex = rtnl_route_nh_get_ifindex(hop);
    }
    snapshot.routes.push_back(row);
  });
  return ReadResult::kOk;
}

class NetlinkRouteSource final : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) override {
    NetworkSnapshot snapshot;
    switch (ReadSnapshot(snapshot)) {
      case ReadResult::kOk: rows = BuildRouteRows(snapshot); return RouteQueryResult::kOk;
      case ReadResult::kNoMemory: return RouteQueryResult::kNoMemory;
      case ReadResult::kFailed: break;
    }
    return RouteQueryResult::kFailed;
  }
};

class NetlinkAdapterSource final : public AdapterSource {
 public:
  AdapterQueryResult QueryAdapters(std::vector<AdapterInfo>& adapters) override {
    NetworkSnapshot snapshot;
    if (ReadSnapshot(snapshot) != ReadResult::kOk) return AdapterQueryResult::kFailed;
    adapters = BuildAdapterList(snapshot);
    return adapters.empty() ? AdapterQueryResult::kNoData : AdapterQueryResult::kOk;
  }
};

}  // namespace

RouteSource& SystemRouteSource() {
  static NetlinkRouteSource source;
  return source;
}

AdapterSource& SystemAdapterSource() {
  static NetlinkAdapterSource source;
  return source;
}

}  // namespace quillnet
