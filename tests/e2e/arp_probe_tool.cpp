// Probes one address out of one interface with the system's neighbour check:
//   e2e_arp_probe <interface> <ip> holder
// prints the MAC address of the device that answers, or "none" when nobody does within the
// probe's default duration, and exits 0. When no probe is possible it prints the reason on
// stderr and exits 1; a wrong command line exits 2.
#include <net/if.h>

#include <cstdio>
#include <string>

#include "platform/ipv4_text.h"
#include "platform/neighbour_check.h"
#include "wire/message.h"

int main(int argc, char** argv) {
  using namespace quillnet;
  std::uint32_t ip = 0;
  if (argc != 4 || !ReadIpv4Text(argv[2], ip, LeadingZeros::kRefuse) || std::string(argv[3]) != "holder") {
    std::fputs("usage: e2e_arp_probe <interface> <ip> holder\n", stderr);
    return 2;
  }
  const unsigned index = ::if_nametoindex(argv[1]);
  if (index == 0) {
    std::fprintf(stderr, "no interface named %s\n", argv[1]);
    return 2;
  }

  ProbeRequest request;
  request.interfaces = {static_cast<int>(index)};
  request.ip = ip;
  const ProbeResult result = SystemNeighbourCheck().Probe(request);
  switch (result.outcome) {
    case ProbeOutcome::kAnswered:
      std::printf("%s\n", FormatMacAddress(result.holder).c_str());
      return 0;
    case ProbeOutcome::kSilent:
      std::puts("none");
      return 0;
    case ProbeOutcome::kNotPossible:
    case ProbeOutcome::kBrokeOff:
      break;
  }
  std::fprintf(stderr, "%s\n", result.reason.c_str());
  return 1;
}
