// Prints what this machine's route and adapter sources return, one line per row, so a script
// that built the network can compare it with what it built:
//   route <dest> <mask> <next hop>
//   adapter <name> gateway <gateway> <address>/<mask> [<address>/<mask> ...]
// Exit 0 when both queries succeeded, 1 otherwise.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ipv4_text.h"
#include "platform/network_info.h"

int main() {
  using namespace quillnet;
  int status = 0;

  std::vector<RouteRow> rows;
  if (SystemRouteSource().QueryRoutes(rows) != RouteQueryResult::kOk) {
    std::fputs("route query failed\n", stderr);
    status = 1;
  }
  for (const RouteRow& row : rows) {
    std::printf("route %s %s %s\n", Ipv4Text(row.dest).c_str(), Ipv4Text(row.mask).c_str(),
                Ipv4Text(row.nextHop).c_str());
  }

  std::vector<AdapterInfo> adapters;
  if (SystemAdapterSource().QueryAdapters(adapters) != AdapterQueryResult::kOk) {
    std::fputs("adapter query failed\n", stderr);
    status = 1;
  }
  for (const AdapterInfo& adapter : adapters) {
    std::string line = "adapter " + adapter.name + " gateway " + adapter.gateway;
    for (const AdapterAddress& address : adapter.addresses) {
      line += " " + address.ipAddress + "/" + address.ipMask;
    }
    std::puts(line.c_str());
  }
  return status;
}
