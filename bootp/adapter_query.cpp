#include "bootp/adapter_query.h"

#include <cstdio>
#include <vector>

#include "platform/ipv4_text.h"

namespace quillnet {

bool QueryLocalAdapter(AdapterSource& source, std::string& ipAddress, std::string& subnetMask,
                       std::string& defaultGateway) {
  std::vector<AdapterInfo> adapters;
  switch (source.QueryAdapters(adapters)) {
    case AdapterQueryResult::kOk:
      break;
    case AdapterQueryResult::kNoData:
      std::puts("No adapter information exists for the local computer");
      return false;
    case AdapterQueryResult::kNotSupported:
      std::puts(
          "GetAdaptersInfo is not supported by the operating system running on the local "
          "computer");
      return false;
    case AdapterQueryResult::kFailed:
      return true;
  }

  for (const AdapterInfo& adapter : adapters) {
    if (adapter.addresses.empty()) continue;
    ipAddress = adapter.addresses.back().ipAddress;
    subnetMask = adapter.addresses.front().ipMask;
    defaultGateway = adapter.gateway;
    if (ipAddress != "0.0.0.0") break;
  }
  return true;
}

bool QueryLocalAdapter(std::string& ipAddress, std::string& subnetMask,
                       std::string& defaultGateway) {
  return QueryLocalAdapter(SystemAdapterSource(), ipAddress, subnetMask, defaultGateway);
}

bool QueryInterfaceAddress(AdapterSource& source, int interfaceIndex, std::string& ipAddress,
                           std::string& subnetMask) {
  std::vector<AdapterInfo> adapters;
  if (interfaceIndex == 0 || source.QueryAdapters(adapters) != AdapterQueryResult::kOk) {
    return false;
  }
  for (const AdapterInfo& adapter : adapters) {
    if (adapter.index != interfaceIndex || adapter.addresses.empty() ||
        adapter.addresses.back().ipAddress == "0.0.0.0") {
      continue;
    }
    ipAddress = adapter.addresses.back().ipAddress;
    subnetMask = adapter.addresses.front().ipMask;
    return true;
  }
  return false;
}

std::string InterfaceWith(const std::vector<OwnAddress>& own, std::uint32_t ip) {
  for (const OwnAddress& address : own) {
    if (address.ip == ip) return address.interfaceName;
  }
  return {};
}

}  // namespace quillnet
