#include "cli/assign.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "app/address_prober.h"
#include "app/assignment_session.h"
#include "app/assignment_timing.h"
#include "app/commissioning.h"
#include "app/device_probes.h"
#include "app/vendor_loader.h"
#include "bootp/adapter_query.h"
#include "cli/serving.h"
#include "platform/ipv4_text.h"
#include "platform/neighbour_check.h"

namespace quillnet::cli {
namespace {

// An answer handed to the sender as the time runs out still goes out, within this.
constexpr auto kLastRepliesLimit = std::chrono::seconds(5);

// Whether the address may be armed: held by another device it is refused, unless forced; a
// probe that cannot be made is only advice. An exit code, or none to go on.
std::optional<int> CheckInUse(const AssignArguments& args, DeviceKey key, std::uint32_t ip,
                              const DeviceNetwork& where, Output& output,
                              const std::atomic<bool>& interrupted) {
  const std::string& ipText = args.addresses.ipAddress;
  ProbeRequest request = BuildProbe(ProbePurpose::kInUse, ip, key, where, ArpInterfaces,
                                    timing::kInUseProbe, timing::kInUseProbeInterval);
  request.cancel = &interrupted;
  const InUse inUse = ReadInUse(SystemNeighbourCheck().Probe(request));
  if (!inUse.notChecked.empty()) {
    output.Warning("Warning: could not check whether " + ipText + " is in use: " +
                   inUse.notChecked + ".");
    return std::nullopt;
  }
  if (inUse.holder.empty()) return std::nullopt;
  if (args.force) {
    output.Warning("Warning: " + ipText + " is already in use by " + inUse.holder + ".");
    return std::nullopt;
  }
  output.Error(ipText + " is already in use by " + inUse.holder +
               ". Give the device another address, or use --force to assign it all the same.");
  return kExitRefused;
}

// Shows the session's events as they happened; the exit code once one ends the run.
class AssignReport {
 public:
  AssignReport(Output& output, const AssignArguments& args, std::string macText)
      : m_output(output), m_args(args), m_macText(std::move(macText)) {}

  std::optional<int> Show(const std::vector<AssignmentSession::Event>& events,
                          const AssignmentSession& session) {
    std::optional<int> exit;
    for (const AssignmentSession::Event& event : events) {
      const std::optional<int> code = Show(event, session.Accepted(), session.KeepResult());
      if (code && !exit) exit = code;
    }
    return exit;
  }

 private:
  std::optional<int> Show(const AssignmentSession::Event& event, bool accepted,
                          const std::optional<enip::MethodResult>& keepResult) {
    using Kind = AssignmentSession::EventKind;
    const std::string& ip = m_args.addresses.ipAddress;
    switch (event.kind) {
      case Kind::kSent:
        ReportReply(m_output, event.reply, "");
        // Sent, but not out of every interface.
        if (!event.reply.failure.empty()) m_output.Warning("Warning: " + event.reply.failure);
        return std::nullopt;
      case Kind::kAccepted:
        m_output.Event("accepted", "Accepted: " + m_macText + " took " + ip + " (DHCP)",
                       {{"mac", m_macText}, {"ip", ip}});
        return std::nullopt;
      case Kind::kNotSent:
        m_output.Error("The reply to " + m_macText + " could not be sent: " + event.text);
        return kExitSendFailed;
      case Kind::kDeclined:
        m_output.Error(DeclinedText(m_macText, ip));
        return kExitRefused;
      case Kind::kOtherServer:
        m_output.Error(event.text);
        return kExitRefused;
      case Kind::kConfirmed:
        m_output.Event("confirmed", "Confirmed: " + m_macText + " answers at " + ip,
                       {{"mac", m_macText}, {"ip", ip}});
        // Told to keep its address, the device's word on that ends the run.
        return m_args.keep ? std::nullopt : std::optional<int>(kExitSent);
      case Kind::kKeeping:
        m_output.Event("keeping",
                       "Telling " + m_macText + " to keep " + ip + " (EtherNet/IP) ...",
                       {{"mac", m_macText}, {"ip", ip}});
        return std::nullopt;
      case Kind::kKept:
        return ShowKept(event.text, keepResult);
      case Kind::kNotConfirmed:
        return NotConfirmed("Not confirmed: " + m_macText + " did not answer at " + ip + " " +
                                WithinText(m_args.confirmSeconds) +
                                (m_linkDown.empty() ? "" : ": " + m_linkDown + " is down") + ".",
                            accepted);
      case Kind::kLinkDown:
        m_linkDown = event.text;
        m_output.Warning("Warning: " + event.text + ", where " + m_macText +
                             " was heard, is down or has lost its IPv4 address; waiting for it "
                             "to come back.");
        return std::nullopt;
      case Kind::kLinkUp:
        m_linkDown.clear();
        m_output.Event("link-up", event.text + " is back.", {{"interface", event.text}});
        return std::nullopt;
      case Kind::kWarning:
        m_output.Warning(event.text);
        return std::nullopt;
      case Kind::kCannotCheck:
        m_output.Warning("Not confirmed: could not check whether " + m_macText + " answers at " +
                         ip + ": " + event.text + ".");
        return kExitSent;
      case Kind::kCheckBrokeOff:
        m_output.Error("Not confirmed: the check whether " + m_macText + " answers at " + ip +
                       " broke off: " + event.text + ".");
        return kExitNotConfirmed;
      case Kind::kAskedTooOften:
        m_output.Error(event.text);
        return kExitNotConfirmed;
    }
    return std::nullopt;
  }

 public:
  // The address was given either way: a device that does not keep it only ends the run with
  // its own exit code.
  int ShowKept(const std::string& text, const std::optional<enip::MethodResult>& result) {
    return ReportKept(m_output, "", {{"mac", m_macText}, {"ip", m_args.addresses.ipAddress}},
                      text, result)
               ? kExitSent
               : kExitNotKept;
  }

  // A device that accepted the address in DHCP said so itself: its silence is only a warning.
  int NotConfirmed(const std::string& text, bool accepted) {
    if (accepted) {
      m_output.Warning(text);
      return kExitSent;
    }
    m_output.Error(text);
    return kExitNotConfirmed;
  }

 private:
  Output& m_output;
  const AssignArguments& m_args;
  const std::string m_macText;
  // The interface toward the device while it is down.
  std::string m_linkDown;
};

int Run(const AssignArguments& args, AssignmentSession& session, BootPServer& server,
        Output& output, const std::atomic<bool>& interrupted) {
  const std::string macText = session.MacText();
  AssignReport report(output, args, macText);
  const Deadline deadline(args.timeoutSeconds);
  // Runs until the end: a DHCP device may decline its address while it is being checked.
  server.Listen();
  std::vector<AssignmentSession::Event> events;
  for (;;) {
    // What cannot be said ends the run: the caller would read silence as success.
    if (output.Failed()) return kExitOutputFailed;
    events.clear();
    session.Poll(events);
    if (const auto exit = report.Show(events, session)) return *exit;
    if (session.Ended()) return kExitSent;  // answered, and no check was asked for
    if (interrupted) break;
    if (!session.Answered() && deadline.Passed()) {
      // No new answer from here on; one already handed to the sender still goes out, and
      // counts.
      events.clear();
      session.StopWaiting(kLastRepliesLimit, events);
      if (const auto exit = report.Show(events, session)) return *exit;
      if (!session.Answered()) break;
      if (session.Ended()) return kExitSent;
    }
    if (!server.IsRunning()) {
      output.Error(MessageText(server));
      return kExitStartFailed;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  const std::string& ipText = args.addresses.ipAddress;
  if (session.Confirmed()) {
    // The exchange is cut short; one that had ended first still says what it came to.
    session.End();
    if (const auto& kept = session.KeepResult();
        kept && kept->outcome != enip::MethodOutcome::kCancelled) {
      return report.ShowKept(kept->text, kept);
    }
    output.Warning("Interrupted before " + macText + " said whether it keeps " + ipText + ".",
                   {{"kind", "notKept"}, {"mac", macText}, {"ip", ipText}, {"keep", "cancelled"}});
    return kExitNotKept;
  }
  if (session.Answered()) {
    return report.NotConfirmed(
        "Not confirmed: interrupted before " + macText + " answered at " + ipText + ".",
        session.Accepted());
  }
  output.Error(interrupted         ? "Interrupted before " + macText + " asked for an address."
               : session.Offered() ? macText + " was offered " + ipText +
                                         " but did not ask for it " + deadline.WithinText() + "."
                                   : "No BOOTP or DHCP request from " + macText + " " +
                                         deadline.WithinText() + ".");
  return kExitTimeout;
}

}  // namespace

int Assign(const AssignArguments& args, Output& output, const std::atomic<bool>& interrupted) {
  DeviceKey key = 0;
  if (auto refusal = ReadMacArgument(args.mac, key)) return Refuse(output, *refusal);
  const std::string macText = FormatMacAddress(key);
  // Checked before the server listens, so before the device is heard: against every network of
  // this PC. The session checks it again against the interface the device asks on.
  const DeviceNetwork where = LocateDevice(nullptr, key, SystemAdapterSource());
  std::vector<std::string> warnings;
  if (auto refusal = CheckAddresses(args.addresses, where, warnings)) {
    return Refuse(output, *refusal);
  }
  for (const std::string& warning : warnings) output.Warning(warning);
  std::uint32_t ip = 0;
  ReadIpv4Text(args.addresses.ipAddress, ip, LeadingZeros::kRefuse);

  BootPServer server;
  if (!StartServer(server, output)) return kExitStartFailed;
  // Started first: a request that comes during the probe waits in the socket and is answered
  // once armed.
  if (const auto refused = CheckInUse(args, key, ip, where, output, interrupted)) return *refused;

  // Read while the device is waited for; the record names the maker.
  VendorLoader vendors;
  AddressProber prober(SystemNeighbourCheck());
  AssignmentSession::Settings settings;
  settings.checkWindow =
      std::chrono::milliseconds(std::llround(std::ceil(args.confirmSeconds * 1000)));
  settings.fallbackInterfaces = ArpInterfaces;
  settings.adapters = &SystemAdapterSource();
  settings.keepAddress = args.keep;
  AssignmentSession session(server, prober, settings);
  output.Event("waiting", "Waiting for a BOOTP or DHCP request from " + macText + " ...",
               {{"mac", macText}});
  if (!session.Arm(macText, args.addresses.ipAddress, args.addresses.subnetMask,
                   args.addresses.defaultGateway)) {
    // The addresses passed their check; only a server that stopped refuses them here.
    const std::string why = MessageText(server);
    output.Error("The server could not be armed for " + macText + (why.empty() ? "." : ": " + why));
    return kExitStartFailed;
  }
  const int exit = Run(args, session, server, output, interrupted);

  // Whatever it came to, the assignment has its line in the record; one that cannot be
  // written is said, and changes nothing else.
  session.End();
  vendors.WaitLoaded();
  if (const std::string failure =
          RecordAssignment(session, "quillnet-cli assign", vendors.Lookup(key));
      !failure.empty()) {
    output.Warning("Warning: " + failure, {{"kind", "record"}});
  }
  return output.Failed() ? kExitOutputFailed : exit;
}

}  // namespace quillnet::cli
