// quillnet-cli: the BOOTP engine without a user interface. `listen` shows the devices that ask
// for an address; `assign` answers one device's next request with the given addresses; `serve`
// answers every device of a hosts file; `doctor` checks whether this PC can serve at all.
#include <CLI/CLI.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "bootp/adapter_query.h"
#include "bootp/address_check.h"
#include "bootp/address_probe.h"
#include "bootp/bootp_server.h"
#include "bootp/dhcp.h"
#include "bootp/message.h"
#include "cli/arguments.h"
#include "cli/doctor.h"
#include "cli/hosts_file.h"
#include "cli/output.h"
#include "platform/arp_socket.h"
#include "platform/console.h"
#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "platform/net_helper.h"
#include "platform/network_info.h"
#include "platform/port_owners.h"
#include "platform/winsock_errors.h"

namespace {

using quillnet::BootPServer;
using namespace quillnet::cli;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// The look for another holder before arming is short, so assign starts waiting at once; a
// holder answers a probe within milliseconds.
constexpr auto kInUseProbeDuration = std::chrono::milliseconds(300);
constexpr auto kInUseProbeInterval = std::chrono::milliseconds(100);
// A device may take seconds to set up the address it was sent, so the confirmation keeps
// asking.
constexpr auto kConfirmProbeInterval = std::chrono::milliseconds(500);
constexpr std::array<std::string_view, 5> kSubcommands = {"listen", "assign", "serve", "doctor",
                                                          "help"};

std::atomic<bool> g_interrupted{false};
// Ends a wait or a probe early: an interruption, or a device that declined its address.
std::atomic<bool> g_stopWaiting{false};

extern "C" void OnInterrupt(int) {
  g_interrupted = true;
  g_stopWaiting = true;
}

// Runs the receive loop on its own thread while the caller watches the server.
class Worker {
 public:
  explicit Worker(BootPServer& server)
      : m_server(server), m_thread([this] {
          while (!m_stop && m_server.IsRunning()) m_server.ServiceOneRequest();
        }) {}
  ~Worker() {
    m_stop = true;
    m_server.Stop();
    m_thread.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

 private:
  BootPServer& m_server;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

std::string SecondsText(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

// A time limit; none waits for ever.
class Deadline {
 public:
  explicit Deadline(std::optional<double> seconds)
      : m_seconds(seconds),
        m_end(std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(seconds.value_or(0)))) {}
  bool Passed() const { return m_seconds && std::chrono::steady_clock::now() >= m_end; }
  std::string Text() const { return SecondsText(m_seconds.value_or(0)); }

 private:
  std::optional<double> m_seconds;
  std::chrono::steady_clock::time_point m_end;
};

std::string MessageText(const BootPServer& server) {
  std::string text;
  server.GetMessageText(text);
  return text;
}

int Refuse(Output& output, const Refusal& refusal) {
  output.Error(refusal.text);
  return refusal.exitCode;
}

bool StartServer(BootPServer& server, Output& output) {
  if (server.Start()) return true;
  if (server.GetStartError() == quillnet::kWsaEaddrinuse) {
    // The engine's text speaks of the wizard; here the holder is named, as doctor names it.
    const std::string holders =
        PortHoldersText(quillnet::FindUdpPortOwners(BootPServer::kServerPort));
    output.Error("UDP port 67 is in use by " +
                 (holders.empty() ? std::string("a program that could not be found") : holders) +
                 "; stop it, then run this again. `quillnet-cli doctor` checks this PC.");
    return false;
  }
  output.Error(MessageText(server));
  if (server.GetStartError() == quillnet::kWsaEacces && !quillnet::NeedsNetHelper()) {
    // Where any program may bind the port, a refusal means another one holds it exclusively,
    // or the system keeps it for itself.
    const std::string holders =
        PortHoldersText(quillnet::FindUdpPortOwners(BootPServer::kServerPort));
    output.Error("UDP port 67 is refused to this program" +
                 (holders.empty() ? std::string() : ", held by " + holders) +
                 ". `quillnet-cli doctor` checks this PC.");
  } else if (server.GetStartError() == quillnet::kWsaEacces) {
    // Refused the port, the program asked quillnet-net-helper, which says what it lacks.
    const std::string helper = quillnet::LastPortHelperFailure();
    output.Error("Binding UDP port 67 needs root or " + std::string(quillnet::kNetHelperName) +
                 ": " + (helper.empty() ? "it could not be asked" : helper));
  }
  return false;
}

// The PC's address and mask, for the subnet warning of the address check.
quillnet::LocalNetwork QueryLocalNetwork() {
  quillnet::LocalNetwork local;
  std::string localGateway;
  if (!quillnet::QueryLocalAdapter(local.ipAddress, local.subnetMask, localGateway)) return {};
  return local;
}

// "pa", "pa and pb", "pa, pb and pc".
std::string NamesText(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

// What a reply carried, read back from its bytes, and where it left.
void ReportReply(Output& output, const BootPServer::ReplyRecord& reply, const std::string& prefix) {
  const bool dhcp = reply.messageType != quillnet::kBootpMessage;
  const std::string type = quillnet::MessageTypeText(reply.messageType);
  // A nak carries no address: it only sends the device back to ask again.
  const std::string carried = reply.messageType == quillnet::kDhcpNak
                                  ? ""
                                  : ": IP address " + reply.ipAddress + ", subnet mask " +
                                        reply.subnetMask + ", default gateway " +
                                        reply.defaultGateway;
  output.Event("sent",
               prefix + "Sent " + (dhcp ? type + " " : "") + "to " + reply.macText + carried +
                   " (through " + NamesText(reply.interfaceNames) + ")",
               {{"time", quillnet::FormatLocalTime(reply.time, "%H:%M:%S")},
                {"type", type},
                {"mac", reply.macText},
                {"ip", reply.ipAddress},
                {"mask", reply.subnetMask},
                {"gateway", reply.defaultGateway},
                {"interfaces", reply.interfaces},
                {"interfaceNames", reply.interfaceNames}});
}

// Only a BOOTP reply or a DHCP ack gives the device its address; an offer or a nak is a step
// on the way.
bool IsFinalAnswer(const BootPServer::ReplyRecord& reply) {
  return reply.messageType == quillnet::kBootpMessage || reply.messageType == quillnet::kDhcpAck;
}

std::string DeclinedText(const std::string& mac, const std::string& ip) {
  return "Declined: " + mac + " reports " + ip + " as in use by another device.";
}

struct RowSeen {
  int count = 0;
  bool valid = false;
  std::uint8_t type = quillnet::kBootpMessage;
  bool operator==(const RowSeen&) const = default;
};

int Listen(Output& output) {
  BootPServer server;
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("listening", "Listening for BOOTP and DHCP requests on UDP port 67; Ctrl+C ends.");
  std::vector<RowSeen> seen;
  {
    Worker worker(server);
    while (!g_interrupted && server.IsRunning()) {
      const int rows = server.GetRequestCount();
      for (int row = 0; row < rows; ++row) {
        if (static_cast<std::size_t>(row) >= seen.size()) seen.emplace_back();
        const RowSeen now{server.GetCount(row), server.IsValid(row), server.GetMessageType(row)};
        if (now == seen[static_cast<std::size_t>(row)]) continue;
        seen[static_cast<std::size_t>(row)] = now;
        const std::string mac = server.GetMacText(row);
        const std::string last = server.GetLastRequestTimeText(row);
        const std::string type = quillnet::MessageTypeText(now.type);
        output.Event("request",
                     mac + "  count " + std::to_string(now.count) + "  last " + last + "  " +
                         (now.valid ? "valid" : "not valid") + "  " + type,
                     {{"mac", mac},
                      {"count", now.count},
                      {"last", last},
                      {"valid", now.valid},
                      {"type", type}});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const bool stoppedListening = !g_interrupted;
  const std::string message = MessageText(server);
  if (!message.empty()) output.Error(message);
  return stoppedListening ? kExitStartFailed : 0;
}

struct AssignArguments {
  std::string mac;
  AddressTexts addresses;
  std::optional<double> timeoutSeconds;
  double confirmSeconds = 5;
  bool force = false;
};

// This PC's IPv4 addresses and their interfaces; none when they cannot be read.
std::vector<OwnAddress> QueryOwnAddresses() {
  std::vector<OwnAddress> own;
  std::vector<quillnet::AdapterInfo> adapters;
  const auto found = quillnet::SystemAdapterSource().QueryAdapters(adapters);
  if (found != quillnet::AdapterQueryResult::kOk) return own;
  for (const quillnet::AdapterInfo& adapter : adapters) {
    for (const quillnet::AdapterAddress& address : adapter.addresses) {
      std::uint32_t value = 0;
      // An interface without an address lists 0.0.0.0.
      if (quillnet::ReadIpv4Text(address.ipAddress, value) && value != 0) {
        own.push_back({value, adapter.name});
      }
    }
  }
  return own;
}

// Whether the address may be armed: held by another device or by this PC it is refused,
// unless forced; a probe that cannot be made is only advice. An exit code, or none to go on.
std::optional<int> CheckInUse(const AssignArguments& args, quillnet::DeviceKey key,
                              std::uint32_t ip, Output& output) {
  const std::string& ipText = args.addresses.ipAddress;
  std::string holder;
  if (const std::string name = InterfaceWith(QueryOwnAddresses(), ip); !name.empty()) {
    holder = "this PC's interface " + name;
  } else {
    quillnet::ProbeRequest request;
    request.interfaces = quillnet::ArpInterfaces();
    request.ip = ip;
    request.accept = [key](quillnet::DeviceKey mac) { return mac != key; };
    request.duration = kInUseProbeDuration;
    request.interval = kInUseProbeInterval;
    request.cancel = &g_stopWaiting;
    const quillnet::ProbeResult result =
        quillnet::ProbeAddress(quillnet::SystemArpSocketApi(), request);
    if (result.outcome == quillnet::ProbeOutcome::kNotPossible) {
      output.Warning("Warning: could not check whether " + ipText + " is in use: " +
                     result.reason + ".");
      return std::nullopt;
    }
    if (result.outcome == quillnet::ProbeOutcome::kSilent) return std::nullopt;
    holder = quillnet::FormatMacAddress(result.holder);
  }
  if (args.force) {
    output.Warning("Warning: " + ipText + " is already in use by " + holder + ".");
    return std::nullopt;
  }
  output.Error(ipText + " is already in use by " + holder +
               ". Give the device another address, or use --force to assign it all the same.");
  return kExitRefused;
}

// After the reply went out: asks for the address where the device's request came in until
// the device itself answers for it. A check that cannot be made leaves the reply sent. A
// device that `accepted` the address in DHCP said so itself: its silence is only a warning.
int ConfirmAddress(const BootPServer& server, const AssignArguments& args,
                   const std::string& macText, quillnet::DeviceKey key, std::uint32_t ip,
                   bool accepted, Output& output) {
  const std::string& ipText = args.addresses.ipAddress;
  quillnet::ProbeRequest request;
  request.interfaces = server.GetHeardInterfaces(macText);
  if (request.interfaces.empty()) request.interfaces = quillnet::ArpInterfaces();
  request.ip = ip;
  request.accept = [key](quillnet::DeviceKey mac) { return mac == key; };
  request.duration = std::chrono::milliseconds(std::llround(std::ceil(args.confirmSeconds * 1000)));
  request.interval = kConfirmProbeInterval;
  request.cancel = &g_stopWaiting;
  const quillnet::ProbeResult result =
      quillnet::ProbeAddress(quillnet::SystemArpSocketApi(), request);
  switch (result.outcome) {
    case quillnet::ProbeOutcome::kAnswered:
      output.Event("confirmed", "Confirmed: " + macText + " answers at " + ipText,
                   {{"mac", macText}, {"ip", ipText}});
      return kExitSent;
    case quillnet::ProbeOutcome::kSilent: {
      // Cut short by the device's decline, which the caller reports.
      if (g_stopWaiting && !g_interrupted) return kExitRefused;
      const std::string text = g_interrupted
                                   ? "Not confirmed: interrupted before " + macText +
                                         " answered at " + ipText + "."
                                   : "Not confirmed: " + macText + " did not answer at " + ipText +
                                         " within " + SecondsText(args.confirmSeconds) +
                                         " seconds.";
      if (accepted) {
        output.Warning(text);
        return kExitSent;
      }
      output.Error(text);
      return kExitNotConfirmed;
    }
    case quillnet::ProbeOutcome::kNotPossible:
      break;
  }
  output.Warning("Not confirmed: could not check whether " + macText + " answers at " + ipText +
                 ": " + result.reason + ".");
  return kExitSent;
}

int Assign(const AssignArguments& args, Output& output) {
  quillnet::DeviceKey key = 0;
  if (auto refusal = ReadMacArgument(args.mac, key)) return Refuse(output, *refusal);
  const std::string macText = quillnet::FormatMacAddress(key);
  std::string warning;
  if (auto refusal = CheckAddresses(args.addresses, QueryLocalNetwork(), warning)) {
    return Refuse(output, *refusal);
  }
  if (!warning.empty()) output.Warning(warning);
  std::uint32_t ip = 0;
  quillnet::ReadIpv4Text(args.addresses.ipAddress, ip, quillnet::LeadingZeros::kRefuse);

  BootPServer server;
  // The steps of a DHCP dialogue are shown as they happen; the answer itself once the wait
  // is over.
  std::atomic<bool> offered{false};
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    if (!reply.armed || IsFinalAnswer(reply)) return;
    if (reply.messageType == quillnet::kDhcpOffer) offered = true;
    ReportReply(output, reply, "");
  });
  server.SetDeclineHandler([](const BootPServer::DeclineRecord& decline) {
    if (decline.armed) g_stopWaiting = true;
  });
  if (!StartServer(server, output)) return kExitStartFailed;
  // Started first: a request that comes during the probe waits in the socket and is answered
  // once armed.
  if (const auto refused = CheckInUse(args, key, ip, output)) return *refused;
  output.Event("waiting", "Waiting for a BOOTP or DHCP request from " + macText + " ...",
               {{"mac", macText}});
  server.Arm(macText, args.addresses.ipAddress, args.addresses.subnetMask,
             args.addresses.defaultGateway);

  const Deadline deadline(args.timeoutSeconds);
  // Runs until the end: a DHCP device may decline its address while it is being confirmed.
  Worker worker(server);
  // A request heard while the address was probed is answered at once, and the server stays
  // armed for the next one; that answer came within a second of the request, so the device
  // takes it and the wait ends there.
  while (!g_stopWaiting && server.IsArmed() && !server.WasReplySent() && !deadline.Passed()) {
    std::this_thread::sleep_for(kPollInterval);
  }
  const std::string declined = DeclinedText(macText, quillnet::Ipv4Text(ip));
  if (server.GetDeviceVerdict() == BootPServer::DeviceVerdict::kDeclined) {
    output.Error(declined);
    return kExitRefused;
  }
  if (server.GetDeviceVerdict() == BootPServer::DeviceVerdict::kOtherServer) {
    output.Error(MessageText(server));
    return kExitRefused;
  }
  const bool accepted = server.GetDeviceVerdict() == BootPServer::DeviceVerdict::kAccepted;
  if (!accepted) {
    // No answer is decided from here on; one already handed to the sender still goes out,
    // and counts.
    server.Disarm();
    server.WaitForReplies(std::chrono::seconds(5));
  }
  BootPServer::ReplyRecord reply;
  const bool answered = server.GetLastReply(reply) && reply.armed && IsFinalAnswer(reply);
  if (!answered) {
    output.Error(g_interrupted ? "Interrupted before " + macText + " asked for an address."
                 : offered     ? macText + " was offered " + args.addresses.ipAddress +
                                 " but did not ask for it within " + deadline.Text() + " seconds."
                               : "No BOOTP or DHCP request from " + macText + " within " +
                                 deadline.Text() + " seconds.");
    return kExitTimeout;
  }
  const std::string message = MessageText(server);
  if (!reply.reachedDevice) {
    output.Error("The reply to " + macText + " could not be sent: " + message);
    return kExitSendFailed;
  }
  ReportReply(output, reply, "");
  if (accepted) {
    output.Event("accepted", "Accepted: " + macText + " took " + reply.ipAddress + " (DHCP)",
                 {{"mac", macText}, {"ip", reply.ipAddress}});
  }
  // Sent, but not out of every interface.
  if (!message.empty()) output.Warning("Warning: " + message);
  const int confirmed =
      args.confirmSeconds == 0 ? kExitSent
                               : ConfirmAddress(server, args, macText, key, ip, accepted, output);
  // A decline that came while the address was checked is the device's last word.
  if (server.GetDeviceVerdict() == BootPServer::DeviceVerdict::kDeclined) {
    output.Error(declined);
    return kExitRefused;
  }
  return confirmed;
}

struct ServeArguments {
  std::string hostsPath;
  bool once = false;
  std::optional<double> timeoutSeconds;
};

std::string DevicesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " device" : " devices");
}

int Serve(const ServeArguments& args, Output& output) {
  std::string text;
  if (auto refusal = ReadHostsFile(args.hostsPath, text)) return Refuse(output, *refusal);
  const HostsFile hosts =
      ParseHostsFile(text, args.hostsPath, QueryLocalNetwork(), QueryOwnAddresses());
  if (hosts.refusal) return Refuse(output, *hosts.refusal);
  for (const std::string& warning : hosts.warnings) output.Warning(warning);

  std::vector<BootPServer::HostEntry> entries;
  for (const HostRow& row : hosts.rows) {
    entries.push_back({row.macText, row.addresses.ipAddress, row.addresses.subnetMask,
                       row.addresses.defaultGateway});
  }
  BootPServer server;
  server.SetHosts(entries);
  std::mutex answeredMutex;
  std::unordered_set<std::string> answered;
  std::atomic<std::size_t> answeredCount{0};
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    if (!reply.reachedDevice) {
      output.Error("The reply to " + reply.macText + " could not be sent: " + MessageText(server));
      return;
    }
    ReportReply(output, reply, quillnet::FormatLocalTime(reply.time, "%H:%M:%S") + "  ");
    if (!IsFinalAnswer(reply)) return;
    std::lock_guard lock(answeredMutex);
    answered.insert(reply.macText);
    answeredCount = answered.size();
  });
  // The device asks again, and is answered again; what it said is worth knowing meanwhile.
  server.SetDeclineHandler([&](const BootPServer::DeclineRecord& decline) {
    output.Error(quillnet::FormatLocalTime(decline.time, "%H:%M:%S") + "  " +
                 DeclinedText(decline.macText, decline.ipAddress));
  });
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("serving",
               "Serving " + DevicesText(entries.size()) + " from " + args.hostsPath +
                   " on UDP port 67; Ctrl+C ends.",
               {{"devices", entries.size()}, {"file", args.hostsPath}});

  const Deadline deadline(args.timeoutSeconds);
  bool allAnswered = false;
  {
    Worker worker(server);
    while (!g_interrupted && server.IsRunning() && !deadline.Passed()) {
      allAnswered = answeredCount == entries.size();
      if (allAnswered && args.once) break;
      std::this_thread::sleep_for(kPollInterval);
    }
  }
  const std::size_t answeredNow = answeredCount;
  allAnswered = answeredNow == entries.size();
  // --once promises every device its answer; an interruption before that is no success.
  if (g_interrupted && args.once && !allAnswered) {
    output.Error("Interrupted: answered " + std::to_string(answeredNow) + " of " +
                 DevicesText(entries.size()) + ".");
    return kExitTimeout;
  }
  if (g_interrupted || (allAnswered && (args.once || deadline.Passed()))) return kExitSent;
  if (deadline.Passed()) {
    output.Error(std::to_string(answeredNow) + " of " + DevicesText(entries.size()) +
                 " answered within " + deadline.Text() + " seconds.");
    return kExitTimeout;
  }
  output.Error(MessageText(server));
  return kExitStartFailed;
}

void AddTimeout(CLI::App* command, std::optional<double>& seconds) {
  command
      ->add_option_function<std::string>(
          "--timeout",
          [&seconds](const std::string& text) {
            double read = 0;
            ReadTimeout(text, read);
            seconds = read;
          },
          "Give up after SECONDS (above 0, at most 86400; default: wait for ever)")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadTimeout(text, read) ? std::string() : std::string(kTimeoutRule);
          },
          "SECONDS"));
}

// Whether --json is among the arguments. A refusal of the arguments comes before the parser
// has read it, or instead of that, and is still one JSON object then.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return false;
    if (argument == "--json") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** systemArgv) {
  quillnet::UseUtf8Console();
  // Read in UTF-8 from here on, as a path is handed on to the system in UTF-8.
  std::vector<std::string> texts = quillnet::Utf8Arguments(argc, systemArgv);
  std::vector<char*> utf8Argv;
  for (std::string& text : texts) utf8Argv.push_back(text.data());
  utf8Argv.push_back(nullptr);
  char** const argv = utf8Argv.data();
  Output argumentsOutput(AsksForJson(argc, argv), std::cout, std::cerr);
  if (auto refusal = CheckSubcommand(argc > 1 ? argv[1] : "", kSubcommands)) {
    return Refuse(argumentsOutput, *refusal);
  }
  // `help [SUBCOMMAND]` is read as `[SUBCOMMAND] --help`.
  std::vector<char*> arguments(argv, argv + argc);
  std::string helpFlag = "--help";
  if (argc > 1 && std::string_view(argv[1]) == "help") {
    if (argc > 2) {
      if (auto refusal = CheckSubcommand(argv[2], kSubcommands)) {
        return Refuse(argumentsOutput, *refusal);
      }
    }
    arguments.erase(arguments.begin() + 1);
    arguments.push_back(helpFlag.data());
  }

  CLI::App app{"Quillnet BOOTP server without the wizard."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("quillnet-cli ") + QUILLNET_VERSION,
                       "Print the version and exit");
  app.footer(
      "Exit codes: 0 the reply was sent (assign), every check passed (doctor), or the run "
      "ended by Ctrl+C or, with --once, once every device was answered (listen, serve); "
      "1 a check failed (doctor); 2 invalid arguments, or a hosts file that cannot be read; "
      "3 the addresses failed the check, or the IP address is in use by another device or this "
      "PC, or the device declined it as in use or took another DHCP server's offer (assign), or "
      "the hosts file was refused (serve); "
      "4 the server could not start or stopped listening; 5 the reply could not be sent; "
      "6 no request from the device before the timeout or an interruption (assign), or not "
      "every device answered before the timeout or, with --once, before an interruption "
      "(serve); 7 the device did not answer at its new address within --confirm seconds or "
      "before an interruption (assign).");

  bool json = false;
  CLI::App* listen = app.add_subcommand("listen", "List the devices that ask for an address.");
  listen->add_flag("--json", json, "One JSON object per line");

  AssignArguments assignArgs;
  CLI::App* assign =
      app.add_subcommand("assign",
                         "Answer a device's next BOOTP or DHCP request with these addresses.");
  assign->add_option("MAC", assignArgs.mac, "The device's MAC address, e.g. 02:00:5e:10:20:30")
      ->required();
  assign->add_option("IP", assignArgs.addresses.ipAddress, "The IP address to give it")
      ->required();
  assign->add_option("MASK", assignArgs.addresses.subnetMask, "Its subnet mask")->required();
  assign->add_option("GATEWAY", assignArgs.addresses.defaultGateway,
                     "Its default gateway (none: 0.0.0.0)");
  AddTimeout(assign, assignArgs.timeoutSeconds);
  assign
      ->add_option_function<std::string>(
          "--confirm",
          [&assignArgs](const std::string& text) { ReadConfirm(text, assignArgs.confirmSeconds); },
          "After the reply, wait at most SECONDS for the device to answer ARP at its new "
          "address (0: do not check; default 5)")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadConfirm(text, read) ? std::string() : std::string(kConfirmRule);
          },
          "SECONDS"));
  assign->add_flag("--force", assignArgs.force,
                   "Assign the IP address even when another device or this PC has it");
  assign->add_flag("--json", json, "One JSON object per line");

  ServeArguments serveArgs;
  CLI::App* serve = app.add_subcommand(
      "serve", "Answer every device listed in a hosts file, until Ctrl+C or SIGTERM.");
  serve
      ->add_option("--hosts", serveArgs.hostsPath,
                   "CSV lines MAC,IP,MASK[,GATEWAY]; a header line, # comments and blank lines "
                   "are allowed")
      ->required();
  serve->add_flag("--once", serveArgs.once, "End as soon as every device has been answered");
  AddTimeout(serve, serveArgs.timeoutSeconds);
  serve->add_flag("--json", json, "One JSON object per line");

  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check whether this PC can serve BOOTP, and say how to fix what is wrong.");
  doctor->add_flag("--json", json, "One JSON object per line");

  // Read as `SUBCOMMAND --help` before parsing; here for the list of subcommands and its own
  // --help.
  std::string helpTopic;
  app.add_subcommand("help", "Print this help, or SUBCOMMAND's help.")
      ->add_option("SUBCOMMAND", helpTopic, "The subcommand to explain");

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::ParseError& error) {
    // --help and --version print and end with 0.
    if (error.get_exit_code() == 0) return app.exit(error);
    // One line per refusal; --help says the rest.
    argumentsOutput.Error(error.what());
    return kExitUsage;
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  Output output(json, std::cout, std::cerr);
  if (*listen) return Listen(output);
  if (*serve) return Serve(serveArgs, output);
  if (*doctor) return RunDoctor(output);
  if (*assign) return Assign(assignArgs, output);
  return app.exit(CLI::CallForHelp());
}
