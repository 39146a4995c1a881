#include "cli/serving.h"

#include <sstream>

#include "app/start_failure.h"
#include "bootp/adapter_query.h"
#include "cli/doctor.h"
#include "platform/local_time.h"
#include "platform/net_helper.h"
#include "wire/dhcp.h"

namespace quillnet::cli {

namespace {

// A flood of one kind of notice costs a line this often.
constexpr auto kNoticeInterval = std::chrono::seconds(1);

// " (12 so far)" when more came than this line counts.
std::string SoFarText(std::uint64_t news, std::uint64_t total) {
  std::string text;
  if (news == total) return text;
  text += " (";
  text += std::to_string(total);
  text += " so far)";
  return text;
}

}  // namespace

NoticeReporter::NoticeReporter(Output& output, const BootPServer& server)
    : m_output(output), m_server(server) {}

void NoticeReporter::Poll() { Say(m_server.GetNotices(), false); }

void NoticeReporter::Flush() { Say(m_server.GetNotices(), true); }

bool NoticeReporter::Due(Said& said, std::uint64_t count, bool all, std::uint64_t& news) const {
  if (count <= said.count) return false;
  if (!all && said.count != 0 && m_now - said.at < kNoticeInterval) return false;
  news = count - said.count;
  said = {count, m_now};
  return true;
}

void NoticeReporter::Say(const BootPServer::Notices& notices, bool all) {
  m_now = std::chrono::steady_clock::now();
  std::uint64_t news = 0;
  // Each text is built by appending: mingw's g++ 12 at -O3 warns falsely of a literal
  // prepended to a temporary string.
  if (Due(m_oversize, notices.oversizeDatagrams, all, news)) {
    const bool one = news == 1;
    std::string text = "Warning: ";
    text += one ? std::string("a datagram") : std::to_string(news) + " datagrams";
    text += " longer than ";
    text += std::to_string(kMessageBufferSize);
    text += " bytes came to UDP port 67 ";
    text += one ? "and was" : "and were";
    text += " dropped: no BOOTP or DHCP request is that long.";
    text += SoFarText(news, notices.oversizeDatagrams);
    m_output.Warning(text, {{"kind", "oversize"},
                            {"count", news},
                            {"total", notices.oversizeDatagrams}});
  }
  if (Due(m_receive, notices.receiveFailures, all, news)) {
    std::string failure = notices.lastReceiveFailure;
    while (failure.ends_with('\n')) failure.pop_back();
    std::string text = "Warning: a receive on UDP port 67 failed";
    if (news != 1) {
      text += ' ';
      text += std::to_string(news);
      text += " times";
    }
    text += ", the last with " + failure + "; the server goes on.";
    text += SoFarText(news, notices.receiveFailures);
    m_output.Warning(text, {{"kind", "receive"},
                            {"count", news},
                            {"total", notices.receiveFailures},
                            {"failure", failure}});
  }
  if (Due(m_relays, notices.refusedRelays, all, news)) {
    const std::string named = notices.lastRefusedRelay + ", " + notices.lastRefusedWhy;
    std::string text = "Warning: dropped ";
    if (news == 1) {
      text += "a request from " + notices.lastRefusedMac + " that names " + named +
              ", as its relay agent: no reply may go there.";
    } else {
      text += std::to_string(news);
      text += " requests that name no relay agent a reply may go to; the last, from ";
      text += notices.lastRefusedMac + ", named " + named + ".";
    }
    text += SoFarText(news, notices.refusedRelays);
    m_output.Warning(text, {{"kind", "relay"},
                            {"count", news},
                            {"total", notices.refusedRelays},
                            {"mac", notices.lastRefusedMac},
                            {"relay", notices.lastRefusedRelay},
                            {"reason", notices.lastRefusedWhy}});
  }
  if (notices.tableFull && !m_tableFullSaid) {
    m_tableFullSaid = true;
    std::string text = "Warning: ";
    text += std::to_string(BootPServer::kMaxRows);
    text += " devices have been heard, as many as the table holds: further devices are not "
            "listed.";
    m_output.Warning(text, {{"kind", "tableFull"}, {"devices", BootPServer::kMaxRows}});
  }
}

Deadline::Deadline(std::optional<double> seconds)
    : m_seconds(seconds),
      m_end(seconds ? std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(*seconds))
                    : std::chrono::steady_clock::time_point::max()) {}

bool Deadline::Passed() const { return std::chrono::steady_clock::now() >= m_end; }

std::string Deadline::WithinText() const { return cli::WithinText(m_seconds.value_or(0)); }

std::string WithinText(double seconds) { return "within " + SecondsText(seconds); }

std::string SecondsText(double seconds) {
  std::ostringstream text;
  text << seconds << (seconds == 1 ? " second" : " seconds");
  return text.str();
}

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
  const StartFailure failure = DiagnoseStart(server);
  if (failure.kind == StartFailure::Kind::kPortInUse) {
    // The engine's text speaks of the wizard; here the holder is named, as doctor names it.
    output.Error("UDP port 67 is in use by " +
                 (failure.holders.empty() ? std::string("a program that could not be found")
                                          : failure.holders) +
                 "; stop it, then run this again. quillnet-cli doctor checks this PC.");
    return false;
  }
  output.Error(failure.message);
  if (failure.kind == StartFailure::Kind::kPortRefused) {
    output.Error("UDP port 67 is refused to this program" +
                 (failure.holders.empty() ? std::string() : ", held by " + failure.holders) +
                 ". quillnet-cli doctor checks this PC.");
  } else if (failure.kind == StartFailure::Kind::kNeedsHelper) {
    output.Error("Binding UDP port 67 needs root or " + std::string(kNetHelperName) + ": " +
                 (failure.helperFailure.empty() ? "it could not be asked" : failure.helperFailure));
  }
  return false;
}

std::string NamesText(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

void ReportReply(Output& output, const BootPServer::ReplyRecord& reply, const std::string& prefix) {
  const bool dhcp = reply.messageType != kBootpMessage;
  const std::string type = MessageTypeText(reply.messageType);
  // A nak carries no address: it only sends the device back to ask again.
  const std::string carried = reply.messageType == kDhcpNak
                                  ? ""
                                  : ": IP address " + reply.ipAddress + ", subnet mask " +
                                        reply.subnetMask + ", default gateway " +
                                        reply.defaultGateway;
  // A device behind a router is answered through the relay agent it asked through.
  const std::string via = reply.relay.empty() ? "" : "relay agent " + reply.relay + ", ";
  nlohmann::json fields{{"time", FormatLocalTime(reply.time, "%H:%M:%S")},
                        {"type", type},
                        {"mac", reply.macText},
                        {"ip", reply.ipAddress},
                        {"mask", reply.subnetMask},
                        {"gateway", reply.defaultGateway},
                        {"interfaces", reply.interfaces},
                        {"interfaceNames", reply.interfaceNames}};
  if (!reply.relay.empty()) fields["relay"] = reply.relay;
  output.Event("sent",
               prefix + "Sent " + (dhcp ? type + " " : "") + "to " + reply.macText + carried +
                   " (through " + via + NamesText(reply.interfaceNames) + ")",
               fields);
}

std::string DeclinedText(const std::string& mac, const std::string& ip) {
  return "Declined: " + mac + " reports " + ip + " as in use by another device.";
}

bool ReportKept(Output& output, const std::string& prefix, nlohmann::json fields,
                const std::string& text, const std::optional<enip::MethodResult>& result) {
  fields["keep"] = result ? enip::MethodOutcomeWord(result->outcome, true) : std::string("failed");
  if (result && result->outcome == enip::MethodOutcome::kDone) {
    output.Event("kept", prefix + text, std::move(fields));
    return true;
  }
  fields["kind"] = "notKept";
  output.Warning(prefix + text, std::move(fields));
  return false;
}

std::string DevicesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " device" : " devices");
}

}  // namespace quillnet::cli
