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

// What the subcommands that run the server share: starting it, its receive loop, a time limit,
// and the lines that tell of a reply.
namespace quillnet::cli {

// How often a subcommand looks at what the server did.
inline constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Runs the server's receive loop on its own thread while the caller watches the server; stops
// the server and joins the thread when it goes.
class Worker {
 public:
  explicit Worker(BootPServer& server);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

 private:
  BootPServer& m_server;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
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
// Starts the server; false after saying why it could not start, with what fixes it.
bool StartServer(BootPServer& server, Output& output);
// This PC's address and mask, for the subnet warning of the address check.
LocalNetwork QueryLocalNetwork();
// "pa", "pa and pb", "pa, pb and pc".
std::string NamesText(const std::vector<std::string>& names);
// What a reply carried, read back from its bytes, and where it left; after `prefix`.
void ReportReply(Output& output, const BootPServer::ReplyRecord& reply, const std::string& prefix);
// Only a BOOTP reply or a DHCP ack gives the device its address; an offer or a nak is a step
// on the way.
bool IsFinalAnswer(const BootPServer::ReplyRecord& reply);
std::string DeclinedText(const std::string& mac, const std::string& ip);
// "1 device", "2 devices".
std::string DevicesText(std::size_t count);

}  // namespace quillnet::cli
