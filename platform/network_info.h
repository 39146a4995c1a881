#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quillnet {

// One IPv4 route as the reply step reads it: destination, mask and next hop, each in
// network byte order, and for an interface's limited-broadcast row the interface's index
// (0 for other rows, or when not known).
struct RouteRow {
  std::uint32_t dest = 0;
  std::uint32_t mask = 0;
  std::uint32_t nextHop = 0;
  int interfaceIndex = 0;

  bool operator==(const RouteRow&) const = default;
};

enum class RouteQueryResult { kOk, kNoMemory, kFailed };

class RouteSource {
 public:
  virtual ~RouteSource() = default;
  // Fills `rows` with the IPv4 route table: first one limited-broadcast host row
  // (255.255.255.255/32, next hop = the interface's first address) per interface that can
  // broadcast, in interface-index order, then the loopback row, then the kernel's routes.
  virtual RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) = 0;
  // The name of the interface with this index, for messages: the system's name, else
  // "interface <index>".
  virtual std::string InterfaceName(int index) const;
};

// Route rows kept from the last read of the network, so a query costs no read. Whoever
// watches the network calls Refresh after each change; until a refresh has succeeded, and
// after one fails or Drop, queries read the network directly. Thread-safe: queries may run
// while another thread refreshes.
class RouteCache final : public RouteSource {
 public:
  using Reader = std::function<RouteQueryResult(std::vector<RouteRow>& rows)>;

  // `read` must be safe to call from two threads at once.
  explicit RouteCache(Reader read);

  void Refresh();
  // The rows may no longer follow the network (nobody watches it any more).
  void Drop();
  RouteQueryResult QueryRoutes(std::vector<RouteRow>& rows) override;

 private:
  const Reader m_read;
  std::mutex m_mutex;
  std::vector<RouteRow> m_rows;
  bool m_current = false;
};

// One address entry of an adapter, as dotted texts.
struct AdapterAddress {
  std::string ipAddress;
  std::string ipMask;
};

struct AdapterInfo {
  std::string name;
  std::vector<AdapterAddress> addresses;  // never empty: "0.0.0.0"/"0.0.0.0" when none
  std::string gateway;                    // "0.0.0.0" when the adapter has no default route
  int index = 0;                          // the system's interface index; 0 when not known
};

enum class AdapterQueryResult { kOk, kNoData, kNotSupported, kFailed };

class AdapterSource {
 public:
  virtual ~AdapterSource() = default;
  // Every interface but loopback, in interface-index order. kNoData when there is none.
  virtual AdapterQueryResult QueryAdapters(std::vector<AdapterInfo>& adapters) = 0;
};

// What the kernel reports, reduced to what the two queries above need.
struct NetworkSnapshot {
  struct Link {
    int index = 0;
    std::string name;
    bool up = false;
    bool running = false;
    bool broadcast = false;
    bool loopback = false;
  };
  struct Address {
    int linkIndex = 0;
    std::uint32_t address = 0;  // network byte order
    int prefixLength = 0;
  };
  struct Route {
    std::uint32_t dest = 0;  // network byte order
    int prefixLength = 0;
    std::uint32_t gateway = 0;  // 0 when the route is on-link
    std::uint32_t preferredSource = 0;
    int linkIndex = 0;
  };
  std::vector<Link> links;          // any order
  std::vector<Address> addresses;   // IPv4 only, in the kernel's order
  std::vector<Route> routes;        // IPv4 unicast routes of the main table, kernel's order
};

std::vector<RouteRow> BuildRouteRows(const NetworkSnapshot& snapshot);
std::vector<AdapterInfo> BuildAdapterList(const NetworkSnapshot& snapshot);

// The netlink sources of this machine. The route source answers from a RouteCache that
// netlink's change notifications keep current; it reads its rows when first called.
RouteSource& SystemRouteSource();
AdapterSource& SystemAdapterSource();

}  // namespace quillnet
