#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/arp_socket.h"
#include "wire/message.h"

namespace quillnet {

// kBrokeOff: the probe went out, but hearing the answers failed before the end (its helper
// ended, or the socket failed): nothing can be said of the address.
enum class ProbeOutcome { kAnswered, kSilent, kNotPossible, kBrokeOff };

struct ProbeResult {
  ProbeOutcome outcome = ProbeOutcome::kSilent;
  DeviceKey holder = 0;  // kAnswered: the MAC that holds the address
  int error = 0;  // kNotPossible, kBrokeOff: the Winsock-numbered code, 0 when there was no call
  // kNotPossible, kBrokeOff: why, in words for the user, e.g. "quillnet-net-helper was not found beside
  // ... nor in /usr/lib/quillnet", "no interface to send ARP probes on" when the list is empty,
  // otherwise what failed and the code as "%d (%08X)".
  std::string reason;
};

struct ProbeRequest {
  // Where to ask. ArpInterfaces() is not called here: the caller passes them (empty: kNotPossible).
  // Not read for an echo.
  std::vector<int> interfaces;
  // Asks with ICMP echo requests instead of ARP: the device is behind a router, where ARP
  // cannot reach. An answer cannot name its MAC: kAnswered with holder 0, and `accept` is not
  // asked.
  bool echo = false;
  std::uint32_t ip = 0;  // network byte order
  // Which holder ends the probe (the confirmed device, or any other device); empty: any.
  std::function<bool(DeviceKey)> accept;
  std::chrono::milliseconds duration{5000};
  // A probe on every interface at the start and then every interval (none after the start when
  // not positive).
  std::chrono::milliseconds interval{500};
  // Ends the probe early (outcome kSilent); checked at least every 50 ms.
  const std::atomic<bool>* cancel = nullptr;
};

// Sends RFC 5227 probes for `request.ip` out of the interfaces and listens for a device that
// says it holds the address. kAnswered: an ARP request or reply from `ip` arrived on one of the
// interfaces from a holder `accept` takes (frames from this host's own interface MACs do not
// count). kSilent: the duration passed, or cancel was set. kNotPossible: the socket could not
// be opened, no interface was given, or no interface could send a single probe. kBrokeOff:
// receiving failed once the probes were out.
// Refused the packet socket, it has quillnet-net-helper probe instead; when the helper cannot,
// the reason says why and how to fix it.
ProbeResult ProbeAddress(ArpSocketApi& api, const ProbeRequest& request);
// The same with ICMP echo requests to `request.ip`, every interval for the duration: kAnswered
// at the first echo reply from it. Refused the echo socket, it has quillnet-net-helper ask.
ProbeResult ProbeByEcho(ArpSocketApi& api, const ProbeRequest& request);

}  // namespace quillnet
