#include "cli/doctor.h"

#include <map>
#include <set>
#include <tuple>

#include "app/firewall_check.h"
#include "bootp/bootp_server.h"
#include "cli/arguments.h"
#include "platform/ipv4_text.h"
#include "platform/net_helper.h"
#include "platform/network_info.h"
#include "platform/port_owners.h"
#include "platform/process_privileges.h"
#include "platform/program_file.h"
#include "platform/socket_api.h"
#include "platform/winsock_errors.h"

namespace quillnet::cli {
namespace {

enum class Outcome { kOk, kFail, kWarning, kNotChecked };

// Prints one check's outcome; returns whether it passed.
bool Report(Output& output, const char* check, Outcome outcome, const std::string& text) {
  static const std::map<Outcome, std::pair<const char*, const char*>> kWords = {
      {Outcome::kOk, {"OK    ", "ok"}},
      {Outcome::kFail, {"FAIL  ", "fail"}},
      {Outcome::kWarning, {"WARN  ", "warning"}},
      {Outcome::kNotChecked, {"SKIP  ", "not checked"}}};
  const auto& [word, status] = kWords.at(outcome);
  output.Event("check", word + std::string(check) + ": " + text,
               {{"check", check}, {"status", status}, {"text", text}});
  return outcome != Outcome::kFail;
}

bool CheckPortOwners(Output& output) {
  const std::vector<PortOwner> owners = FindUdpPortOwners(BootPServer::kServerPort);
  if (owners.empty()) return Report(output, "port 67", Outcome::kOk, "free");
  return Report(output, "port 67", Outcome::kFail,
                "held by " + PortHoldersText(owners) +
                    ". Only one BOOTP or DHCP server can hold it: stop that program first.");
}

bool CheckPermission(Output& output) {
  if (MayBindPort(BootPServer::kServerPort)) {
    return Report(output, "permission", Outcome::kOk, "this program may bind UDP port 67");
  }
  // The programs hold no capability: the helper opens the port for them. Asking it is the
  // one sure test of the file, its capabilities and this user's group.
  NetHelperFailure failure;
  const int socket = OpenBootpSocketThroughHelper(failure);
  if (socket >= 0) SystemSocketApi().Close(socket);
  const std::string helper = FindNetHelper(RunningProgramPath());
  if (failure.error == 0 || failure.error == kWsaEaddrinuse) {
    return Report(output, "permission", Outcome::kOk,
                  helper + " opens UDP port 67 for this program");
  }
  return Report(output, "permission", Outcome::kFail,
                "this program may not bind UDP port 67: " + failure.text + ".");
}

// A warning at most: without probes the program still serves, it only skips the checks.
void CheckArpProbes(Output& output) {
  if (ProcessHasRawCapability()) {
    Report(output, "ARP probes", Outcome::kOk, "this program may send ARP probes");
    return;
  }
  std::string helper;
  const NetHelperFailure failure = CheckNetHelperProbes(helper);
  if (failure.error == 0) {
    Report(output, "ARP probes", Outcome::kOk, helper + " sends ARP probes for this program");
    return;
  }
  Report(output, "ARP probes", Outcome::kWarning,
         "this program cannot send ARP probes, so it cannot confirm that a device took its "
         "address nor find addresses in use: " + failure.text + ".");
}

// A warning at most: a small receive buffer only costs requests in a burst, and the devices
// ask again.
void CheckReceiveBuffer(Output& output) {
  SocketApi& sockets = SystemSocketApi();
  SocketHandle socket = kInvalidSocket;
  int granted = 0;
  const bool measured =
      sockets.Open(socket) == 0 &&
      sockets.SetReceiveBuffer(socket, BootPServer::kReceiveBufferBytes, granted) == 0;
  if (socket != kInvalidSocket) sockets.Close(socket);
  if (!measured) {
    Report(output, "receive buffer", Outcome::kNotChecked, "its size could not be measured");
    return;
  }
  const std::string size = std::to_string(granted / 1024) + " KiB";
  if (granted >= BootPServer::kReceiveBufferBytes) {
    Report(output, "receive buffer", Outcome::kOk,
           size + ", room for thousands of devices asking at once");
    return;
  }
  if (!ReceiveBufferCappedBySysctl()) {
    Report(output, "receive buffer", Outcome::kWarning,
           size + ", as much as the system grants: when hundreds of devices ask at once, some "
                  "of their requests are lost and those devices ask again seconds later.");
    return;
  }
  Report(output, "receive buffer", Outcome::kWarning,
         size + ", limited by net.core.rmem_max: when hundreds of devices ask at once, some of "
                "their requests are lost and those devices ask again seconds later. Raise the "
                "limit: sudo sysctl -w net.core.rmem_max=" +
             std::to_string(BootPServer::kReceiveBufferBytes) +
             " (and in a file under /etc/sysctl.d/ for every boot).");
}

bool CheckInterfaces(Output& output) {
  // The interfaces as the server's reply sender finds them.
  ReplySender sender(SystemSocketApi(), SystemRouteSource());
  std::string interfaces;
  for (const ReplySender::Interface& route : sender.QueryRoutes().interfaces) {
    interfaces += (interfaces.empty() ? "" : ", ") + sender.NameOf(route) + " " +
                  Ipv4Text(route.address) + " (up, broadcast)";
  }
  if (interfaces.empty()) {
    return Report(output, "interfaces", Outcome::kFail,
                  "no interface can send a reply. Connect this PC to the device's network and "
                  "give that interface an IPv4 address.");
  }
  return Report(output, "interfaces", Outcome::kOk, "replies leave through " + interfaces);
}

void CheckFirewall(Output& output) {
  const FirewallCheck check = CheckFirewall(ReadFirewall(), RunningProgramPath());
  switch (check.verdict) {
    case FirewallCheck::Verdict::kNotChecked:
      Report(output, "firewall", Outcome::kNotChecked,
             check.firewall + ": " + check.findings.front() +
                 "; not checked. If a device gets no answer, let this program receive on UDP "
                 "port 67 and send to UDP port 68.");
      return;
    case FirewallCheck::Verdict::kLetsThrough:
      Report(output, "firewall", Outcome::kOk, check.firewall + ": " + check.findings.front());
      return;
    case FirewallCheck::Verdict::kBlocks:
      for (const std::string& finding : check.findings) {
        Report(output, "firewall", Outcome::kWarning, check.firewall + ": " + finding + " " + check.fix);
      }
      return;
  }
}

}  // namespace

int RunDoctor(Output& output) {
  // Every check runs, so one run lists every problem.
  bool passed = CheckPortOwners(output);
  passed = CheckPermission(output) && passed;
  CheckArpProbes(output);
  CheckReceiveBuffer(output);
  passed = CheckInterfaces(output) && passed;
  CheckFirewall(output);
  return passed ? kExitSent : kExitCheckFailed;
}

}  // namespace quillnet::cli
