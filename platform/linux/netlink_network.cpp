// Reads links, IPv4 addresses and IPv4 routes from the kernel over rtnetlink (libnl-route-3)
// and hands them to the pure builders of network_info.cpp. The route rows are kept in a
// RouteCache that a thread refreshes on every link, address or route notification.
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

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

RouteQueryResult ReadRouteRows(std::vector<RouteRow>& rows) {
  NetworkSnapshot snapshot;
  switch (ReadSnapshot(snapshot)) {
    case ReadResult::kOk: rows = BuildRouteRows(snapshot); return RouteQueryResult::kOk;
    case ReadResult::kNoMemory: return RouteQueryResult::kNoMemory;
    case ReadResult::kFailed: break;
  }
  return RouteQueryResult::kFailed;
}

// Route rows read once and read again after every change the kernel announces. Each change
// re-reads the whole view rather than applying the notification: the kernel drops IPv4 routes
// with their link or address without announcing them, and a burst of changes or an overflow
// of the socket's buffer (lost notifications) then costs one read. When the notifications
// cannot be had, every query reads the network directly.
class WatchedRouteSource final : public RouteSource {
 public:
  WatchedRouteSource() : m_cache(ReadRouteRows) {
    if (!Subscribe()) {
      // A socket that joined the groups would only fill up unread.
      m_events.reset();
      return;
    }
    m_cache.Refresh();
    m_watcher = std::thread([this] { Watch(); });
  }

  ~WatchedRouteSource() override {
    if (m_watcher.joinable()) {
      const std::uint64_t wake = 1;
      // An eventfd write fails only when the counter would overflow; one write never does.
      while (write(m_wake, &wake, sizeof wake) < 0 && errno == EINTR) {
      }
      m_watcher.join();
    }
    if (m_wake >= 0) close(m_wake);
  }

  WatchedRouteSource(const WatchedRouteSource&) = delete;
  WatchedRouteSource& operator=(const WatchedRouteSource&) = delete;

  RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) override {
    return m_cache.QueryRoutes(rows);
  }

 private:
  // Room for a burst of notifications; an overflow still only costs a full read.
  static constexpr int kReceiveBuffer = 1 << 20;
  // Reads per wake-up before the rows are read again, so a storm of changes cannot starve
  // the refresh.
  static constexpr int kMaxReadsPerWake = 256;

  // Joins the link, IPv4 address and IPv4 route groups before the first read, so no change
  // falls between that read and the first notification.
  bool Subscribe() {
    m_events.reset(nl_socket_alloc());
    if (!m_events) return false;
    nl_sock* socket = m_events.get();
    // Notifications carry no sequence number of ours.
    nl_socket_disable_seq_check(socket);
    if (nl_connect(socket, NETLINK_ROUTE) < 0 ||
        nl_socket_add_memberships(socket, RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV4_ROUTE,
                                  0) < 0 ||
        nl_socket_set_nonblocking(socket) < 0) {
      return false;
    }
    nl_socket_set_buffer_size(socket, kReceiveBuffer, 0);
    m_wake = eventfd(0, EFD_CLOEXEC);
    return m_wake >= 0;
  }

  void Watch() {
    pollfd fds[2] = {{nl_socket_get_fd(m_events.get()), POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents != 0) return;
      if (!Drain()) break;
      m_cache.Refresh();
    }
    // Nobody follows the network any more: the rows could go stale.
    m_cache.Drop();
  }

  // Reads every pending notification; false when the socket fails for good.
  bool Drain() {
    for (int read = 0; read < kMaxReadsPerWake; ++read) {
      const int result = nl_recvmsgs_default(m_events.get());
      if (result == -NLE_AGAIN) return true;
      // ENOBUFS: the kernel dropped notifications; the full read that follows catches up.
      if (result < 0 && result != -NLE_NOMEM) return false;
    }
    return true;
  }

  RouteCache m_cache;
  NlSocket m_events;
  int m_wake = -1;
  std::thread m_watcher;
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

std::string RouteSource::InterfaceName(int index) const {
  char name[IF_NAMESIZE] = {};
  if (index > 0 && if_indextoname(static_cast<unsigned>(index), name) != nullptr) return name;
  return "interface " + std::to_string(index);
}

RouteSource& SystemRouteSource() {
  static WatchedRouteSource source;
  return source;
}

AdapterSource& SystemAdapterSource() {
  static NetlinkAdapterSource source;
  return source;
}

}  // namespace quillnet
