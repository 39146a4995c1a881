#pragma once

#include <string>

namespace quillnet {

// The PC's address text cut just after its last "." ("192.168.1.20" gives "192.168.1.");
// empty when the text holds no ".".
std::string SubnetPrefix(const std::string& localIpAddress);

// This PC's address and its subnet mask, as dotted texts; the mask is empty when unknown, and
// both are empty when the PC has no address.
struct LocalNetwork {
  std::string ipAddress;
  std::string subnetMask;
};

// Checks an IP address and a subnet mask for assignment to a device. `resultLine` receives
// the one line that describes the outcome: empty, the subnet warning, or an error. Returns
// true when the two may be sent (the warning does not block). The warning shows when the
// address lies outside the PC's subnet, or the PC's address outside the subnet the mask gives
// the device; while the PC's mask is unknown, when the address text does not hold the PC's
// subnet prefix.
bool ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask,
                       const LocalNetwork& local, std::string& resultLine);

// Why the device may not reach its gateway, for addresses that passed ValidateAddresses: the
// gateway lies outside the subnet the mask gives the device, is the device's own address, or
// that subnet's network or broadcast address. "" when none of these holds, or there is no
// gateway. A warning only: some networks route in ways the device's subnet does not show.
std::string GatewayWarning(const std::string& ipAddress, const std::string& subnetMask,
                           const std::string& defaultGateway);

}  // namespace quillnet
