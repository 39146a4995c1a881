#include "app/device_network.h"

#include "bootp/bootp_server.h"
#include "platform/ipv4_text.h"
#include "platform/network_info.h"

namespace quillnet {
namespace {

constexpr char kIncompleteGatewayText[] = "ERROR: Incomplete Default gateway.";

// This PC's networks and addresses, from one look at the adapters.
void AddThisPc(AdapterSource& adapters, DeviceNetwork& where) {
  std::vector<AdapterInfo> list;
  if (adapters.QueryAdapters(list) != AdapterQueryResult::kOk) return;
  for (const AdapterInfo& adapter : list) {
    for (const AdapterAddress& address : adapter.addresses) {
      std::uint32_t value = 0;
      // An interface without an address lists 0.0.0.0.
      if (!ReadIpv4Text(address.ipAddress, value) || value == 0) continue;
      where.own.push_back({value, adapter.name});
      where.pcNetworks.push_back({address.ipAddress, address.ipMask});
    }
  }
}

}  // namespace

DeviceNetwork LocateDevice(int interfaceIndex, const std::string& relay,
                           AdapterSource& adapters) {
  DeviceNetwork where;
  where.relay = relay;
  if (interfaceIndex != 0) where.interfaces.push_back(interfaceIndex);
  AddThisPc(adapters, where);
  LocalNetwork network;
  if (!relay.empty()) {
    // A device behind a router is on its relay agent's network.
    where.network = LocalNetwork{relay, kRelaySubnetMask};
  } else if (QueryInterfaceAddress(adapters, interfaceIndex, network.ipAddress,
                                   network.subnetMask)) {
    where.network = network;
  }
  return where;
}

DeviceNetwork LocateDevice(const BootPServer* server, DeviceKey device, AdapterSource& adapters) {
  if (server == nullptr) return LocateDevice(0, "", adapters);
  const std::vector<int> heard = server->GetHeardInterfaces(device);
  DeviceNetwork where =
      LocateDevice(heard.empty() ? 0 : heard.front(), server->GetRelayOf(device), adapters);
  where.interfaces = heard;
  return where;
}

enip::Target KeepTarget(std::uint32_t ip, const DeviceNetwork& where, AdapterSource& adapters) {
  enip::Target target;
  target.address = ip;
  if (!where.relay.empty() || where.interfaces.empty()) return target;
  target.interfaceIndex = where.interfaces.front();
  std::string source;
  std::string mask;
  if (QueryInterfaceAddress(adapters, target.interfaceIndex, source, mask)) {
    ReadIpv4Text(source, target.source);
  }
  return target;
}

AddressVerdict CheckDeviceAddresses(const std::string& ipAddress, const std::string& subnetMask,
                                    const std::string& defaultGateway,
                                    const DeviceNetwork& where) {
  AddressVerdict verdict;
  // The address and the mask on their own: without a network to compare with, the line says
  // only what is wrong with them.
  std::string line;
  if (!ValidateAddresses(ipAddress, subnetMask, LocalNetwork{}, line)) {
    verdict.error = line;
    return verdict;
  }
  // A gateway with empty parts would reach the device as 0.0.0.0 while the summary shows what
  // was typed: it must be complete, or empty for none.
  std::uint32_t value = 0;
  if (!defaultGateway.empty() && !ReadIpv4Text(defaultGateway, value)) {
    verdict.error = kIncompleteGatewayText;
    return verdict;
  }
  // A device given one of this PC's own addresses would clash with the PC.
  ReadIpv4Text(ipAddress, value);
  if (const std::string name = InterfaceWith(where.own, value); !name.empty()) {
    verdict.ownHolder = "this PC's interface " + name;
    verdict.error = "ERROR: " + ipAddress + " is already in use by " + verdict.ownHolder + ".";
    return verdict;
  }
  verdict.passed = true;
  // In the device's network, where that is known; else in any of this PC's.
  const std::vector<LocalNetwork> networks =
      where.network ? std::vector<LocalNetwork>{*where.network} : where.pcNetworks;
  std::string subnetWarning;
  for (const LocalNetwork& network : networks) {
    ValidateAddresses(ipAddress, subnetMask, network, line);
    if (line.empty()) {
      subnetWarning.clear();
      break;
    }
    subnetWarning = line;
  }
  if (!subnetWarning.empty()) verdict.warnings.push_back(subnetWarning);
  if (std::string gateway = GatewayWarning(ipAddress, subnetMask, defaultGateway);
      !gateway.empty()) {
    verdict.warnings.push_back(std::move(gateway));
  }
  return verdict;
}

}  // namespace quillnet
