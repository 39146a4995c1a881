#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bootp/adapter_query.h"
#include "bootp/address_check.h"
#include "enip/explicit_session.h"
#include "wire/message.h"

namespace quillnet {

class AdapterSource;
class BootPServer;

// Where a device is, as far as this PC knows, and so which network its address belongs in:
// decided once here for the wizard's Set IP page, `assign` and `serve`.
struct DeviceNetwork {
  // The interfaces the device was last heard on, most recent first; empty while it was not
  // heard, or heard on no interface the server knows.
  std::vector<int> interfaces;
  // The relay agent it asked through; "" when it asked on one of this PC's networks.
  std::string relay;
  // The network its address belongs in: this PC's address and mask on the interface it was
  // heard on, or the relay agent's address with kRelaySubnetMask (the relay does not say its
  // mask). None while that is not known: the device was not heard yet, or not on an interface
  // with an address.
  std::optional<LocalNetwork> network;
  // This PC's networks, each address with its mask: before the device is heard, an address is
  // in a different subnet only when it lies in none of them.
  std::vector<LocalNetwork> pcNetworks;
  // This PC's own addresses, which no device is ever given.
  std::vector<OwnAddress> own;
};

// The mask taken for a relay agent's network: the one of the three-part network proposed.
inline constexpr char kRelaySubnetMask[] = "255.255.255.0";

// Where `device` is: as the server heard it (none given, or not heard: nowhere yet), with this
// PC's networks and addresses from `adapters`.
DeviceNetwork LocateDevice(const BootPServer* server, DeviceKey device, AdapterSource& adapters);
// The same for a device heard on `interfaceIndex` (0: not known), or through `relay` ("" for
// none), as a reply record tells it.
DeviceNetwork LocateDevice(int interfaceIndex, const std::string& relay, AdapterSource& adapters);

// What the check of the addresses for a device came to.
struct AddressVerdict {
  // They may be sent; the warnings do not stop that.
  bool passed = false;
  // Why not, as the Set IP page's line says it ("ERROR: ...").
  std::string error;
  // When the IP address is one of this PC's own: "this PC's interface eth0".
  std::string ownHolder;
  // Advice, in this order: the address lies in another subnet than the device's network; the
  // gateway cannot serve the device. The page shows the last.
  std::vector<std::string> warnings;
};

// Checks an IP address, subnet mask and default gateway ("" for none) for the device at
// `where`: the address and the mask as the Set IP page checks them, a gateway that is not
// complete, an address of this PC (refused), the device's network and its gateway (warnings).
AddressVerdict CheckDeviceAddresses(const std::string& ipAddress, const std::string& subnetMask,
                                    const std::string& defaultGateway,
                                    const DeviceNetwork& where);

// Where a device at `ip` (network byte order) is told to keep its address: that address only,
// from the interface it was last heard on and this PC's address there; a device behind a relay
// agent is reached through the routes.
enip::Target KeepTarget(std::uint32_t ip, const DeviceNetwork& where, AdapterSource& adapters);

}  // namespace quillnet
