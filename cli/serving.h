#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bootp/address_check.h"
#include "bootp/bootp_server.h"
#include "cli/arguments.h"
#include "cli/output.h"
#include "enip/startup_method.h"

// What the subcommands that run the server share: starting it, a time limit, and the lines
// that tell of a reply.
namespace quillnet::cli {

// How often a subcommand looks at what the server did.
inline constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Says, as warnings while the server runs, what its receive step dropped or could not keep
// (BootPServer::Notices): oversize datagrams, receive failures, requests whose relay address
// names no relay agent, a full table. Each kind at most once a second, with the number since
// its last line, so a flood of them costs a line a second; a full table once.
class NoticeReporter {
 public:
  NoticeReporter(Output& output, const BootPServer& server);
  // Says what came since the last call, each kind whose last line is a second old.
  void Poll();
  // Says whatever is still unsaid, at the end of the run.
  void Flush();

 private:
  // One kind of notice: its count when last said, and when.
  struct Said {
    std::uint64_t count = 0;
    std::chrono::steady_clock::time_point at{};
  };
  void Say(const BootPServer::Notices& notices, bool all);
  // Whether the kind's count grew and may be said now; `news` gets the number since.
  bool Due(Said& said, std::uint64_t count, bool all, std::uint64_t& news) const;

  Output& m_output;
  const BootPServer& m_server;
  std::chrono::steady_clock::time_point m_now;
  Said m_oversize;
  Said m_receive;
  Said m_relays;
  bool m_tableFullSaid = false;
};

// A time limit; none passes never.
class Deadline {
 public:
  explicit Deadline(std::optional<double> seconds);
  bool Passed() const;
  std::chrono::steady_clock::time_point End() const { return m_end; }
  // "within 5 seconds", "within 1 second".
  std::string WithinText() const;

 private:
  std::optional<double> m_seconds;
  std::chrono::steady_clock::time_point m_end;
};

// "5 seconds", "1 second", "0.5 seconds".
std::string SecondsText(double seconds);
// "within 5 seconds".
std::string WithinText(double seconds);

std::string MessageText(const BootPServer& server);
int Refuse(Output& output, const Refusal& refusal);
// Starts the server; false after saying why it could not start, with what fixes it. Its
// receive loop is the caller's to start (BootPServer::Listen): a request that comes before
// waits in the socket.
bool StartServer(BootPServer& server, Output& output);
// "pa", "pa and pb", "pa, pb and pc".
std::string NamesText(const std::vector<std::string>& names);
// What a reply carried, read back from its bytes, and where it left; after `prefix`.
void ReportReply(Output& output, const BootPServer::ReplyRecord& reply, const std::string& prefix);
std::string DeclinedText(const std::string& mac, const std::string& ip);
// What telling a device to keep its address came to (`text`, and `result` where the exchange
// gave one), after `prefix`: an event when it keeps it, else a warning of kind "notKept"; in
// JSON `fields` (the device's "mac" and "ip") with the outcome's word as "keep". True when the
// device keeps it.
bool ReportKept(Output& output, const std::string& prefix, nlohmann::json fields,
                const std::string& text, const std::optional<enip::MethodResult>& result);
// "1 device", "2 devices".
std::string DevicesText(std::size_t count);

}  // namespace quillnet::cli
