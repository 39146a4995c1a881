#include "app/device_probes.h"

#include <utility>

namespace quillnet {

ProbeRequest BuildProbe(ProbePurpose purpose, std::uint32_t ip, DeviceKey device,
                        const DeviceNetwork& where,
                        const std::function<std::vector<int>()>& fallback,
                        std::chrono::milliseconds duration, std::chrono::milliseconds interval) {
  ProbeRequest request;
  request.ip = ip;
  // ARP does not pass the relay agent's router: a device behind it is asked with ICMP echo.
  request.echo = !where.relay.empty();
  if (!request.echo) {
    request.interfaces = where.interfaces;
    if (request.interfaces.empty() && fallback) request.interfaces = fallback();
  }
  if (purpose == ProbePurpose::kInUse) {
    request.accept = [device](DeviceKey holder) { return holder != device; };
  } else {
    request.accept = [device](DeviceKey holder) { return holder == device; };
  }
  request.duration = duration;
  request.interval = interval;
  return request;
}

InUse ReadInUse(const ProbeResult& result) {
  InUse inUse;
  switch (result.outcome) {
    case ProbeOutcome::kAnswered:
      // An echo reply from behind a router names no MAC address.
      inUse.holder = result.holder != 0 ? FormatMacAddress(result.holder) : "another device";
      break;
    case ProbeOutcome::kNotPossible:
    case ProbeOutcome::kBrokeOff:
      inUse.notChecked = result.reason;
      break;
    case ProbeOutcome::kSilent:
      break;
  }
  return inUse;
}

}  // namespace quillnet
