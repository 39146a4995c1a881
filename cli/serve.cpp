#include "cli/serve.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "bootp/adapter_query.h"
#include "cli/hosts_file.h"
#include "cli/serving.h"
#include "platform/local_time.h"
#include "wire/dhcp.h"

namespace quillnet::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A DHCP client checks the address it was acked before it uses it (RFC 2131 section 4.4.1; the
// RFC 5227 probes take up to 7 seconds) and declines it when another device answers there.
// Until this has passed since its ack, a DHCP device's answer may still be undone.
constexpr auto kDeclineWindow = std::chrono::seconds(10);

// Which rows have had their answer, and which declined it since: a decline undoes the answer,
// as the device has no address; it is answered again when it asks again.
class Answers {
 public:
  // `dhcp`: the answer was an ack, which the device may still decline.
  void Answered(const std::string& mac, bool dhcp) {
    std::lock_guard lock(m_mutex);
    m_answered[mac] = dhcp ? Clock::now() + kDeclineWindow : Clock::time_point::min();
    m_declined.erase(mac);
  }
  void Declined(const std::string& mac, const std::string& ip) {
    std::lock_guard lock(m_mutex);
    m_answered.erase(mac);
    m_declined[mac] = ip;
  }
  // The rows answered for good: a BOOTP reply, or an ack the device has not declined within
  // kDeclineWindow.
  std::size_t Count() const {
    std::lock_guard lock(m_mutex);
    const Clock::time_point now = Clock::now();
    std::size_t count = 0;
    for (const auto& [mac, settled] : m_answered) {
      if (settled <= now) ++count;
    }
    return count;
  }
  // " MAC (IP) declined its address as in use." for the rows whose last word was a decline;
  // "" when none.
  std::string DeclinedText() const {
    std::lock_guard lock(m_mutex);
    if (m_declined.empty()) return {};
    std::vector<std::string> rows;
    for (const auto& [mac, ip] : m_declined) rows.push_back(mac + " (" + ip + ")");
    return " Declined as in use by another device: " + NamesText(rows) + ".";
  }

 private:
  mutable std::mutex m_mutex;
  // When each answer is for good.
  std::map<std::string, Clock::time_point> m_answered;
  std::map<std::string, std::string> m_declined;
};

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
  BootPServer server;
  server.SetHosts(entries);
  Answers answers;
  // Both handlers run on the thread that sends, one at a time, in the order things happened: a device's
  // ack is counted before a decline that followed it is.
  server.SetAnswerHandler([&](const BootPServer::ReplyRecord& reply) {
    if (!reply.reachedDevice) {
      output.Error("The reply to " + reply.macText + " could not be sent: " + reply.failure);
      return;
    }
    ReportReply(output, reply, FormatLocalTime(reply.time, "%H:%M:%S") + "  ");
    if (reply.final) answers.Answered(reply.macText, reply.messageType == kDhcpAck);
  });
  server.SetDeclineHandler([&](const BootPServer::DeclineRecord& decline) {
    output.Error(FormatLocalTime(decline.time, "%H:%M:%S") + "  " +
                 DeclinedText(decline.macText, decline.ipAddress));
    answers.Declined(decline.macText, decline.ipAddress);
  });
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("serving",
               "Serving " + DevicesText(entries.size()) + " from " + shownPath +
                   " on UDP port 67; Ctrl+C ends.",
               {{"devices", entries.size()}, {"file", args.hostsPath}});

  NoticeReporter notices(output, server);
  server.Listen();
  while (!interrupted && server.IsRunning() && !deadline.Passed() && !output.Failed()) {
    notices.Poll();
    if (args.once && answers.Count() == entries.size()) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  // The replies already handed to the sender go out, and are counted, before the summary.
  server.Stop();
  if (output.Failed()) return kExitOutputFailed;
  notices.Flush();
  const std::size_t answered = answers.Count();
  const bool allAnswered = answered == entries.size();
  // --once promises every device its answer; an interruption before that is no success.
  if (interrupted && args.once && !allAnswered) {
    output.Error("Interrupted: answered " + std::to_string(answered) + " of " +
                 DevicesText(entries.size()) + "." + answers.DeclinedText());
    return kExitTimeout;
  }
  if (interrupted || (allAnswered && (args.once || deadline.Passed()))) return kExitSent;
  if (deadline.Passed()) {
    output.Error(std::to_string(answered) + " of " + DevicesText(entries.size()) + " answered " +
                 deadline.WithinText() + "." + answers.DeclinedText());
    return kExitTimeout;
  }
  output.Error(MessageText(server));
  return kExitStartFailed;
}

}  // namespace quillnet::cli
