#include "cli/serve.h"

#include <chrono>
#include <thread>
#include <vector>

#include "app/served_devices.h"
#include "app/vendor_loader.h"
#include "bootp/adapter_query.h"
#include "cli/hosts_file.h"
#include "cli/serving.h"
#include "platform/neighbour_check.h"
#include "platform/local_time.h"

namespace quillnet::cli {
namespace {

// " Declined as in use by another device: MAC (IP)." for the rows whose last word was a
// decline; "" when none.
std::string DeclinedRowsText(const std::vector<std::string>& rows) {
  if (rows.empty()) return {};
  return " Declined as in use by another device: " + NamesText(rows) + ".";
}

// Says what became of a device after its answer: its check, whether it keeps its address, and
// a line that could not be recorded.
void ShowServed(Output& output, const ServedDevices::Event& event) {
  using Kind = ServedDevices::EventKind;
  const std::string time = FormatLocalTime(event.time, "%H:%M:%S");
  const std::string prefix = time + "  ";
  const std::string& mac = event.mac;
  const std::string& ip = event.ip;
  nlohmann::json fields{{"time", time}, {"mac", mac}, {"ip", ip}};
  // Not found at its address, the device is not told to keep it.
  const auto notChecked = [&](const std::string& text, const char* kind) {
    fields["kind"] = kind;
    fields["keep"] = "not tried";
    output.Warning(prefix + text + "; it was not told to keep that address.", fields);
  };
  switch (event.kind) {
    case Kind::kConfirmed:
      output.Event("confirmed", prefix + "Confirmed: " + mac + " answers at " + ip, fields);
      output.Event("keeping", prefix + "Telling " + mac + " to keep " + ip + " (EtherNet/IP) ...",
                   fields);
      return;
    case Kind::kKept:
      ReportKept(output, prefix, fields, event.text, event.keep);
      return;
    case Kind::kNotConfirmed:
      notChecked("Not confirmed: " + mac + " did not answer at " + ip + " " +
                     WithinText(std::chrono::duration<double>(timing::kCheckWindow).count()),
                 "notConfirmed");
      return;
    case Kind::kCannotCheck:
      notChecked("Not confirmed: could not check whether " + mac + " answers at " + ip + ": " +
                     event.text,
                 "cannotCheck");
      return;
    case Kind::kCheckBrokeOff:
      notChecked("Not confirmed: the check whether " + mac + " answers at " + ip +
                     " broke off: " + event.text,
                 "checkBrokeOff");
      return;
    case Kind::kRecorded:
      if (event.text.empty()) return;
      fields["kind"] = "record";
      output.Warning("Warning: " + event.text + " Not recorded: " + mac + " (" + ip + ").",
                     fields);
      return;
  }
}

}  // namespace

int Serve(const ServeArguments& args, Output& output, const std::atomic<bool>& interrupted) {
  const Deadline deadline(args.timeoutSeconds);
  std::string text;
  if (auto refusal = ReadHostsFile(args.hostsPath, text, {&interrupted, deadline.End()})) {
    return Refuse(output, *refusal);
  }
  // The path as typed, but never a byte that is not text nor a line that fills the screen.
  const std::string shownPath = ShownInput(args.hostsPath, kQuotedPathCharacters);
  // No device has been heard yet: each row is checked against all of this PC's networks.
  const HostsFile hosts =
      ParseHostsFile(text, shownPath, LocateDevice(nullptr, 0, SystemAdapterSource()));
  if (hosts.refusal) return Refuse(output, *hosts.refusal);
  for (const std::string& warning : hosts.warnings) output.Warning(warning);

  std::vector<BootPServer::HostEntry> entries;
  for (const HostRow& row : hosts.rows) {
    entries.push_back({row.macText, row.addresses.ipAddress, row.addresses.subnetMask,
                       row.addresses.defaultGateway});
  }
  // Read while the devices are waited for; the record names their makers.
  VendorLoader vendors;
  ServedDevices::Settings settings;
  settings.keepAddress = args.keep;
  settings.fallbackInterfaces = ArpInterfaces;
  settings.adapters = &SystemAdapterSource();
  settings.vendors = &vendors;
  // Made before the server, so that it outlives the server's handlers.
  ServedDevices served(std::move(settings));
  BootPServer server;
  server.SetHosts(entries);
  // Both handlers run on the thread that sends, one at a time, in the order things happened: a
  // device's ack is taken before a decline that followed it is.
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    if (!reply.reachedDevice) {
      output.Error("The reply to " + reply.macText + " could not be sent: " + reply.failure);
    } else {
      ReportReply(output, reply, FormatLocalTime(reply.time, "%H:%M:%S") + "  ");
    }
    served.Take(reply);
  });
  server.SetDeclineHandler([&](const BootPServer::DeclineRecord& decline) {
    output.Error(FormatLocalTime(decline.time, "%H:%M:%S") + "  " +
                 DeclinedText(decline.macText, decline.ipAddress));
    served.Take(decline);
  });
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("serving",
               "Serving " + DevicesText(entries.size()) + " from " + shownPath +
                   " on UDP port 67; Ctrl+C ends.",
               {{"devices", entries.size()}, {"file", args.hostsPath}});

  NoticeReporter notices(output, server);
  std::vector<ServedDevices::Event> events;
  const auto show = [&] {
    for (const ServedDevices::Event& event : events) ShowServed(output, event);
    events.clear();
  };
  server.Listen();
  // With --once: every device had its outcome. A device that asks again while the server stops
  // is answered once more, but that new round is no part of what the run promised.
  bool onceDone = false;
  std::vector<std::string> notKept;
  while (!interrupted && server.IsRunning() && !deadline.Passed() && !output.Failed()) {
    notices.Poll();
    served.Poll(server, events);
    show();
    if (args.once && served.Settled() == entries.size()) {
      onceDone = true;
      notKept = served.NotKept();
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  // The replies already handed to the sender go out, and are counted, before the summary.
  server.Stop();
  served.Poll(server, events);
  show();
  const std::size_t answered = onceDone ? entries.size() : served.Settled();
  const std::string declined = DeclinedRowsText(served.Declined());
  if (!onceDone) notKept = served.NotKept();
  // The devices whose outcome is not known yet are cut short, and recorded as they stand.
  served.Finish(server, events);
  show();
  if (output.Failed()) return kExitOutputFailed;
  notices.Flush();
  const bool allAnswered = answered == entries.size();
  // --once promises every device its answer; an interruption before that is no success.
  if (interrupted && args.once && !allAnswered) {
    output.Error("Interrupted: answered " + std::to_string(answered) + " of " +
                 DevicesText(entries.size()) + "." + declined);
    return kExitTimeout;
  }
  if (interrupted || (allAnswered && (args.once || deadline.Passed()))) {
    // --keep --once promises every device told to keep its address as well.
    if (args.keep && args.once && allAnswered && !notKept.empty()) {
      output.Error("Answered " + DevicesText(entries.size()) + ", but not kept: " +
                   NamesText(notKept) + ".");
      return kExitNotKept;
    }
    return kExitSent;
  }
  if (deadline.Passed()) {
    output.Error(std::to_string(answered) + " of " + DevicesText(entries.size()) + " answered " +
                 deadline.WithinText() + "." + declined);
    return kExitTimeout;
  }
  output.Error(MessageText(server));
  return kExitStartFailed;
}

}  // namespace quillnet::cli
