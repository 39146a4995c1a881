#pragma once

#include <string>

namespace quillnet {

// The PC's address text cut just after its last "." ("192.168.1.20" gives "192.168.1.");
// empty when the text holds no ".".
std::string SubnetPrefix(const std::string& localIpAddress);

// Checks an IP address and a subnet mask for assignment to a device. `resultLine` receives
// the one line that describes the outcome: empty, the subnet warning, or an error. Returns
// true when the two may be sent (the warning does not block).
bool ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask,
                       const std::string& subnetPrefix, std::string& resultLine);

}  // namespace quillnet
