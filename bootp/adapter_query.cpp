#include "bootp/adapter_query.h"

#include <cstdio>
#include <vector>

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

}  // namespace quillnet
