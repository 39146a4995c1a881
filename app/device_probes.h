#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/device_network.h"
#include "platform/neighbour_check.h"

namespace quillnet {

// What the network is asked about a device's address, built once for the wizard and the CLI.
enum class ProbePurpose {
  // Before the address is given: does another device hold it?
  kInUse,
  // After the reply: does the device answer there?
  kConfirm,
};

// The probe for `ip` (network byte order) on behalf of `device`: ARP on the interfaces it was
// heard on (`fallback()`'s where it was heard on none the server knows), or ICMP echo when it
// asked through a relay agent, since ARP does not pass the relay's router. For kInUse, any
// holder but the device ends it; for kConfirm, only the device.
ProbeRequest BuildProbe(ProbePurpose purpose, std::uint32_t ip, DeviceKey device,
                        const DeviceNetwork& where,
                        const std::function<std::vector<int>()>& fallback,
                        std::chrono::milliseconds duration, std::chrono::milliseconds interval);

// What a look for another holder of an address came to, for a person.
struct InUse {
  // The device that answers at the address: its MAC text, or "another device" when an echo
  // reply answered, which names none. "" when nobody answered.
  std::string holder;
  // Why the look could not be made, or broke off; "" when it was made.
  std::string notChecked;
};
InUse ReadInUse(const ProbeResult& result);

}  // namespace quillnet
