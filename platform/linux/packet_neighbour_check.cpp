#include "platform/linux/packet_neighbour_check.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/probe_rounds.h"
#include "platform/winsock_errors.h"
#include "wire/arp.h"

namespace quillnet {
namespace {

// An ARP frame padded to the Ethernet minimum of 60 bytes fits whole.
constexpr std::size_t kReceiveBufferSize = 64;
static_assert(kReceiveBufferSize >= kArpFrameSize);

// EPERM has no Winsock counterpart; the socket layer reports it as kWsaBase + EPERM.
constexpr int kWsaEperm = kWsaBase + EPERM;

constexpr char kNoCapabilityText[] =
    "this program lacks the CAP_NET_RAW capability, which ARP probes need";
constexpr char kNoEchoCapabilityText[] =
    "this program may not send ICMP echo requests, which reach a device behind a router: it "
    "lacks the CAP_NET_RAW capability, and its group is not in net.ipv4.ping_group_range";

bool IsRefused(int code) { return code == kWsaEperm || code == kWsaEacces; }

// A refused packet socket means a missing capability, which the user can fix; any other
// failure is named with its code, as the server names its own.
std::string FailureText(const std::string& what, int code) {
  if (IsRefused(code)) return kNoCapabilityText;
  return what + " " + WinsockCodeText(code);
}

std::string EchoFailureText(const std::string& what, int code) {
  if (IsRefused(code)) return kNoEchoCapabilityText;
  if (code == kWsaEopnotsupp) return kNoEchoText;
  return what + " " + WinsockCodeText(code);
}

struct Port {
  int index = 0;
  DeviceKey mac = 0;
  ArpFrame probe{};
};

class Prober {
 public:
  Prober(PacketSocketApi& api, SocketHandle socket, const ProbeRequest& request)
      : m_api(api), m_socket(socket), m_request(request) {}

  ProbeResult Run() {
    for (const int index : m_request.interfaces) {
      DeviceKey mac = 0;
      if (const int error = m_api.HardwareAddress(index, mac); error != 0) {
        Note(error, "reading the MAC address of interface " + std::to_string(index) + " failed");
        continue;
      }
      m_ports.push_back({index, mac, BuildArpProbe(mac, m_request.ip)});
      m_ownMacs.push_back(mac);
    }
    ProbeRounds rounds(m_request);
    rounds.RoundDue();
    if (SendProbes() == 0) return m_failure.Result();

    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    for (;;) {
      if (rounds.Over()) return {};
      if (rounds.RoundDue()) SendProbes();
      std::size_t received = 0;
      int arrivedOn = 0;
      if (const int error =
              m_api.ReceiveFrame(m_socket, buffer, received, arrivedOn, rounds.Wait());
          error != 0) {
        // Not hearing is not silence: the caller must not read "nobody holds it" from this.
        return ProbeFailed(error, FailureText("receiving ARP frames failed", error),
                           ProbeOutcome::kBrokeOff);
      }
      DeviceKey holder = 0;
      if (received > 0 && Claims(std::span(buffer.data(), received), arrivedOn, holder)) {
        return ProbeAnswered(holder);
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
    return ParseArpFrame(frame, packet) && ArpClaimsAddress(packet, m_request.ip, holder) &&
           HolderCounts(m_request, holder, m_ownMacs);
  }

  void Note(int error, const std::string& what) { m_failure.Note(error, FailureText(what, error)); }

  PacketSocketApi& m_api;
  const SocketHandle m_socket;
  const ProbeRequest& m_request;
  std::vector<Port> m_ports;
  std::vector<DeviceKey> m_ownMacs;
  FirstFailure m_failure;
};

// Waits for the helper's claims until one counts (kAnswered), the duration passes or cancel is
// set (kSilent), or the helper fails. `counts` gives the holder a claim reports, or nullopt
// for a claim that does not count.
template <typename Counts>
ProbeResult AwaitHelperClaims(NetHelperClaims& claims, const ProbeRequest& request,
                              Counts counts) {
  const ProbeRounds rounds(request);
  for (;;) {
    if (rounds.Over()) return {};
    DeviceKey claim = 0;
    int arrivedOn = 0;
    bool ended = false;
    NetHelperFailure failure;
    claims.Next(claim, arrivedOn, ended, rounds.Wait(), failure);
    if (failure.error != 0) {
      return ProbeFailed(failure.error, failure.text,
                         failure.brokeOff ? ProbeOutcome::kBrokeOff : ProbeOutcome::kNotPossible);
    }
    if (ended) return {};
    if (const std::optional<DeviceKey> holder = counts(claim)) return ProbeAnswered(*holder);
  }
}

// The probe made by quillnet-net-helper for a program refused the packet socket: the helper
// sends the probes and reports the devices that claim the address; this side still decides
// which of them count.
ProbeResult ProbeThroughHelper(PacketSocketApi& api, const ProbeRequest& request, int refusal) {
  NetHelperFailure failure;
  const std::unique_ptr<NetHelperClaims> claims =
      api.StartHelperProbes(request.interfaces, request.ip, request.duration, request.interval,
                            failure);
  if (!claims) {
    if (failure.error == 0) return ProbeFailed(refusal, FailureText("", refusal));
    return ProbeFailed(failure.error, failure.text);
  }
  std::vector<DeviceKey> ownMacs;
  for (const int index : request.interfaces) {
    if (DeviceKey mac = 0; api.HardwareAddress(index, mac) == 0) ownMacs.push_back(mac);
  }
  return AwaitHelperClaims(*claims, request, [&](DeviceKey holder) -> std::optional<DeviceKey> {
    if (holder == 0 || holder == kNetHelperEchoReply || !HolderCounts(request, holder, ownMacs)) {
      return std::nullopt;
    }
    return holder;
  });
}

}  // namespace

ProbeResult PacketNeighbourCheck::WhoAnswers(const ProbeRequest& request) {
  SocketHandle socket = kInvalidSocket;
  if (const int error = m_sockets.Open(socket); error != 0) {
    if (IsRefused(error)) return ProbeThroughHelper(m_sockets, request, error);
    return ProbeFailed(error, FailureText("opening the ARP socket failed", error));
  }
  ProbeResult result = Prober(m_sockets, socket, request).Run();
  m_sockets.Close(socket);
  return result;
}

ProbeResult PacketNeighbourCheck::AnswersEcho(const ProbeRequest& request) {
  SocketHandle socket = kInvalidSocket;
  if (const int error = m_sockets.OpenEcho(socket); error != 0) {
    if (!IsRefused(error)) {
      return ProbeFailed(error, EchoFailureText("opening the ICMP socket failed", error));
    }
    NetHelperFailure failure;
    const std::unique_ptr<NetHelperClaims> claims =
        m_sockets.StartHelperEcho(request.ip, request.duration, request.interval, failure);
    if (!claims) {
      if (failure.error == 0) return ProbeFailed(error, EchoFailureText("", error));
      return ProbeFailed(failure.error, failure.text);
    }
    return AwaitHelperClaims(*claims, request, [](DeviceKey claim) -> std::optional<DeviceKey> {
      if (claim != kNetHelperEchoReply) return std::nullopt;
      return DeviceKey{0};
    });
  }
  ProbeRounds rounds(request);
  rounds.RoundDue();
  std::uint16_t sequence = 0;
  ProbeResult result;
  if (const int error = m_sockets.SendEcho(socket, request.ip, ++sequence); error != 0) {
    result = ProbeFailed(error, EchoFailureText("sending an ICMP echo request failed", error));
  }
  while (result.error == 0 && !rounds.Over()) {
    // A failed resend is not the end: the first request went out.
    if (rounds.RoundDue()) m_sockets.SendEcho(socket, request.ip, ++sequence);
    bool answered = false;
    if (const int error = m_sockets.ReceiveEcho(socket, request.ip, answered, rounds.Wait());
        error != 0) {
      // Not hearing is not silence: the caller must not read "it does not answer" from this.
      result = ProbeFailed(error, EchoFailureText("receiving ICMP echo replies failed", error),
                           ProbeOutcome::kBrokeOff);
    } else if (answered) {
      result = ProbeAnswered(0);
      break;
    }
  }
  m_sockets.Close(socket);
  return result;
}

NeighbourCheck& SystemNeighbourCheck() {
  static PacketNeighbourCheck check(SystemPacketSocketApi());
  return check;
}

}  // namespace quillnet
