#include "bootp/address_probe.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/winsock_errors.h"
#include "wire/arp.h"

namespace quillnet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kCancelCheckPeriod{50};
// An ARP frame padded to the Ethernet minimum of 60 bytes fits whole.
constexpr std::size_t kReceiveBufferSize = 64;
static_assert(kReceiveBufferSize >= kArpFrameSize);

// EPERM has no Winsock counterpart; the socket layer reports it as kWsaBase + EPERM.
constexpr int kWsaEperm = kWsaBase + EPERM;

constexpr char kNoInterfaceText[] = "no interface to send ARP probes on";
constexpr char kNoCapabilityText[] =
    "this program lacks the CAP_NET_RAW capability, which ARP probes need";
constexpr char kNoEchoCapabilityText[] =
    "this program may not send ICMP echo requests, which reach a device behind a router: it "
    "lacks the CAP_NET_RAW capability, and its group is not in net.ipv4.ping_group_range";
constexpr char kNoEchoText[] = "ICMP echo requests, which reach a device behind a router, "
                               "cannot be sent on this system";

bool IsRefused(int code) { return code == kWsaEperm || code == kWsaEacces; }

// A refused packet socket means a missing capability, which the user can fix; any other
// failure is named with its code, as the server names its own.
std::string FailureText(const std::string& what, int code) {
  if (IsRefused(code)) return kNoCapabilityText;
  return what + " " + WinsockCodeText(code);
}

ProbeResult NotPossible(int error, std::string reason,
                        ProbeOutcome outcome = ProbeOutcome::kNotPossible) {
  ProbeResult result;
  result.outcome = outcome;
  result.error = error;
  result.reason = std::move(reason);
  return result;
}

// `from + span`, held at the clock's end instead of overflowing.
Clock::time_point Later(Clock::time_point from, std::chrono::milliseconds span) {
  const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::time_point::max() - from);
  return span < room ? from + span : Clock::time_point::max();
}

struct Port {
  int index = 0;
  DeviceKey mac = 0;
  ArpFrame probe{};
};

class Prober {
 public:
  Prober(ArpSocketApi& api, SocketHandle socket, const ProbeRequest& request)
      : m_api(api), m_socket(socket), m_request(request) {}

  ProbeResult Run() {
    for (const int index : m_request.interfaces) {
      DeviceKey mac = 0;
      if (const int error = m_api.HardwareAddress(index, mac); error != 0) {
        Note(error, "reading the MAC address of interface " + std::to_string(index) + " failed");
        continue;
      }
      m_ports.push_back({index, mac, BuildArpProbe(mac, m_request.ip)});
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = Later(start, m_request.duration);
    if (SendProbes() == 0) return NotPossible(m_firstError, m_firstReason);

    Clock::time_point next = m_request.interval.count() > 0 ? Later(start, m_request.interval)
                                                             : Clock::time_point::max();
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    for (;;) {
      if (m_request.cancel != nullptr && m_request.cancel->load()) return {};
      Clock::time_point now = Clock::now();
      if (now >= deadline) return {};
      if (now >= next) {
        SendProbes();
        // A late round does not make up for the ones missed: at most one round per interval.
        next = Later(next, m_request.interval);
        if (next <= now) next = Later(now, m_request.interval);
        now = Clock::now();
      }
      const Clock::time_point wake = std::min({deadline, next, Later(now, kCancelCheckPeriod)});
      const auto timeout =
          std::max(std::chrono::ceil<std::chrono::milliseconds>(wake - now),
                   std::chrono::milliseconds(0));
      std::size_t received = 0;
      int arrivedOn = 0;
      if (const int error =
              m_api.ReceiveFrame(m_socket, buffer, received, arrivedOn, timeout);
          error != 0) {
        // Not hearing is not silence: the caller must not read "nobody holds it" from this.
        return NotPossible(error, FailureText("receiving ARP frames failed", error),
                           ProbeOutcome::kBrokeOff);
      }
      DeviceKey holder = 0;
      if (received > 0 && Claims(std::span(buffer.data(), received), arrivedOn, holder)) {
        ProbeResult result;
        result.outcome = ProbeOutcome::kAnswered;
        result.holder = holder;
        return result;
      }
    }
  }

 private:
  // The number of interfaces the probe left through.
  int SendProbes() {
    int sent = 0;
    for (const Port& port : m_ports) {
      if (const int error = m_api.SendFrame(m_socket, port.index, port.probe); error != 0) {
        Note(error, "sending an ARP probe on interface " + std::to_string(port.index) + " failed");
      } else {
        ++sent;
      }
    }
    return sent;
  }

  bool Claims(std::span<const std::uint8_t> frame, int arrivedOn, DeviceKey& holder) const {
    const auto& asked = m_request.interfaces;
    if (std::find(asked.begin(), asked.end(), arrivedOn) == asked.end()) return false;
    ArpPacket packet{};
    if (!ParseArpFrame(frame, packet) || !ArpClaimsAddress(packet, m_request.ip, holder)) {
      return false;
    }
    // This host answering for an address of its own, heard on another of its interfaces on
    // the same network, is not a device holding it.
    if (std::any_of(m_ports.begin(), m_ports.end(),
                    [&](const Port& port) { return port.mac == holder; })) {
      return false;
    }
    return !m_request.accept || m_request.accept(holder);
  }

  void Note(int error, const std::string& what) {
    if (m_firstError != 0) return;
    m_firstError = error;
    m_firstReason = FailureText(what, error);
  }

  ArpSocketApi& m_api;
  const SocketHandle m_socket;
  const ProbeRequest& m_request;
  std::vector<Port> m_ports;
  int m_firstError = 0;
  std::string m_firstReason;
};

// Waits for the helper's claims until one counts (kAnswered), the duration passes or cancel is
// set (kSilent), or the helper fails. `counts` gives the holder a claim reports, or nullopt
// for a claim that does not count.
template <typename Counts>
ProbeResult AwaitHelperClaims(NetHelperClaims& claims, const ProbeRequest& request,
                              Counts counts) {
  const Clock::time_point deadline = Later(Clock::now(), request.duration);
  for (;;) {
    if (request.cancel != nullptr && request.cancel->load()) return {};
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return {};
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(
        std::min(deadline, Later(now, kCancelCheckPeriod)) - now);
    DeviceKey claim = 0;
    int arrivedOn = 0;
    bool ended = false;
    NetHelperFailure failure;
    claims.Next(claim, arrivedOn, ended, timeout, failure);
    if (failure.error != 0) {
      return NotPossible(failure.error, failure.text,
                         failure.brokeOff ? ProbeOutcome::kBrokeOff : ProbeOutcome::kNotPossible);
    }
    if (ended) return {};
    if (const std::optional<DeviceKey> holder = counts(claim)) {
      ProbeResult result;
      result.outcome = ProbeOutcome::kAnswered;
      result.holder = *holder;
      return result;
    }
  }
}

// The probe made by quillnet-net-helper for a program refused the packet socket: the helper
// sends the probes and reports the devices that claim the address; this side still decides
// which of them count.
ProbeResult ProbeThroughHelper(ArpSocketApi& api, const ProbeRequest& request, int refusal) {
  NetHelperFailure failure;
  const std::unique_ptr<NetHelperClaims> claims =
      api.StartHelperProbes(request.interfaces, request.ip, request.duration, request.interval,
                            failure);
  if (!claims) {
    if (failure.error == 0) return NotPossible(refusal, FailureText("", refusal));
    return NotPossible(failure.error, failure.text);
  }
  // This host answering for an address of its own is not a device holding it.
  std::vector<DeviceKey> ownMacs;
  for (const int index : request.interfaces) {
    if (DeviceKey mac = 0; api.HardwareAddress(index, mac) == 0) ownMacs.push_back(mac);
  }
  return AwaitHelperClaims(*claims, request, [&](DeviceKey holder) -> std::optional<DeviceKey> {
    if (holder == 0 || holder == kNetHelperEchoReply ||
        std::find(ownMacs.begin(), ownMacs.end(), holder) != ownMacs.end() ||
        (request.accept && !request.accept(holder))) {
      return std::nullopt;
    }
    return holder;
  });
}

std::string EchoFailureText(const std::string& what, int code) {
  if (IsRefused(code)) return kNoEchoCapabilityText;
  if (code == kWsaEopnotsupp) return kNoEchoText;
  return what + " " + WinsockCodeText(code);
}

}  // namespace

ProbeResult ProbeAddress(ArpSocketApi& api, const ProbeRequest& request) {
  if (request.echo) return ProbeByEcho(api, request);
  if (request.interfaces.empty()) return NotPossible(0, kNoInterfaceText);
  SocketHandle socket = kInvalidSocket;
  if (const int error = api.Open(socket); error != 0) {
    if (IsRefused(error)) return ProbeThroughHelper(api, request, error);
    return NotPossible(error, FailureText("opening the ARP socket failed", error));
  }
  ProbeResult result = Prober(api, socket, request).Run();
  api.Close(socket);
  return result;
}

}  // namespace quillnet

namespace quillnet {

ProbeResult ProbeByEcho(ArpSocketApi& api, const ProbeRequest& request) {
  SocketHandle socket = kInvalidSocket;
  if (const int error = api.OpenEcho(socket); error != 0) {
    if (!IsRefused(error)) return NotPossible(error, EchoFailureText("opening the ICMP socket failed", error));
    NetHelperFailure failure;
    const std::unique_ptr<NetHelperClaims> claims =
        api.StartHelperEcho(request.ip, request.duration, request.interval, failure);
    if (!claims) {
      if (failure.error == 0) return NotPossible(error, EchoFailureText("", error));
      return NotPossible(failure.error, failure.text);
    }
    return AwaitHelperClaims(*claims, request, [](DeviceKey claim) -> std::optional<DeviceKey> {
      if (claim != kNetHelperEchoReply) return std::nullopt;
      return DeviceKey{0};
    });
  }
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = Later(start, request.duration);
  std::uint16_t sequence = 0;
  ProbeResult result;
  if (const int error = api.SendEcho(socket, request.ip, ++sequence); error != 0) {
    result = NotPossible(error, EchoFailureText("sending an ICMP echo request failed", error));
  }
  Clock::time_point next = request.interval.count() > 0 ? Later(start, request.interval)
                                                         : Clock::time_point::max();
  while (result.error == 0) {
    if (request.cancel != nullptr && request.cancel->load()) break;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (now >= next) {
      // A failed resend is not the end: the first request went out.
      api.SendEcho(socket, request.ip, ++sequence);
      next = Later(now, request.interval);
    }
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(
        std::min({deadline, next, Later(now, kCancelCheckPeriod)}) - now);
    bool answered = false;
    if (const int error = api.ReceiveEcho(socket, request.ip, answered, timeout); error != 0) {
      // Not hearing is not silence: the caller must not read "it does not answer" from this.
      result = NotPossible(error, EchoFailureText("receiving ICMP echo replies failed", error),
                           ProbeOutcome::kBrokeOff);
    } else if (answered) {
      result.outcome = ProbeOutcome::kAnswered;
      break;
    }
  }
  api.Close(socket);
  return result;
}

}  // namespace quillnet
