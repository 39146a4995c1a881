#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Who answers for an IPv4 address on this PC's networks, within a time: by ARP on the given
// interfaces, which names the holder's MAC address, or by ICMP echo for a device behind a
// router, which names none. Each system asks in its own way; a probe blocks its caller until it
// has its result.
class NeighbourCheck {
 public:
  virtual ~NeighbourCheck() = default;

  // Asks as the request says: ICMP echo when `request.echo` is set, else ARP on its interfaces
  // (none given: kNotPossible, "no interface to send ARP probes on").
  ProbeResult Probe(const ProbeRequest& request);

 protected:
  // Asks who holds `request.ip` on `request.interfaces`, of which there is at least one, every
  // interval for the duration. kAnswered: a device the request's `accept` takes said it holds
  // the address on one of them (this PC's own interfaces, answering for an address of their
  // own, never count). kSilent: the duration passed, or cancel was set. kNotPossible: nothing
  // could be asked on any interface. kBrokeOff: hearing the answers failed once the probe was
  // under way.
  virtual ProbeResult WhoAnswers(const ProbeRequest& request) = 0;
  // Sends ICMP echo requests to `request.ip` every interval for the duration: kAnswered, holder
  // 0, at the first echo reply from it; otherwise as WhoAnswers.
  virtual ProbeResult AnswersEcho(const ProbeRequest& request) = 0;
};

// This system's check: packet sockets (or quillnet-net-helper for a program refused them) on
// Linux, IP Helper on Windows.
NeighbourCheck& SystemNeighbourCheck();

// The interfaces ARP can be sent on: up, not loopback, not NOARP, Ethernet, in index order.
// Empty when the interfaces cannot be read.
std::vector<int> ArpInterfaces();

}  // namespace quillnet
