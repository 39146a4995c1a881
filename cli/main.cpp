// quillnet-cli: the BOOTP engine without a user interface. `listen` shows the devices that ask
// for an address; `assign` answers one device's next request with the given addresses.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bootp/adapter_query.h"
#include "bootp/address_check.h"
#include "bootp/bootp_server.h"
#include "bootp/message.h"

namespace {

using quillnet::BootPServer;

enum ExitCode : int {
  kExitSent = 0,
  kExitUsage = 2,
  kExitRefused = 3,
  kExitStartFailed = 4,
  kExitSendFailed = 5,
  kExitTimeout = 6,
};

constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

// Runs the receive loop on its own thread while the caller watches the server.
class Worker {
 public:
  explicit Worker(BootPServer& server)
      : m_server(server), m_thread([this] {
          while (!m_stop) {
            m_server.ServiceOneRequest();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
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

std::string MessageText(const BootPServer& server) {
  std::string text;
  server.GetMessageText(text);
  return text;
}

bool StartServer(BootPServer& server) {
  if (server.Start()) return true;
  std::cerr << MessageText(server);
  if (!MessageText(server).ends_with('\n')) std::cerr << '\n';
  return false;
}

struct RowSeen {
  int count = 0;
  bool valid = false;
};

int Listen() {
  BootPServer server;
  if (!StartServer(server)) return kExitStartFailed;
  std::cout << "Listening for BOOTP requests on UDP port 67; Ctrl+C ends." << std::endl;
  std::vector<RowSeen> seen;
  {
    Worker worker(server);
    while (!g_interrupted && server.IsRunning()) {
      const int rows = server.GetRequestCount();
      for (int row = 0; row < rows; ++row) {
        if (static_cast<std::size_t>(row) >= seen.size()) seen.emplace_back();
        const RowSeen now{server.GetCount(row), server.IsValid(row)};
        if (now.count == seen[static_cast<std::size_t>(row)].count &&
            now.valid == seen[static_cast<std::size_t>(row)].valid) {
          continue;
        }
        seen[static_cast<std::size_t>(row)] = now;
        std::cout << server.GetMacText(row) << "  count " << now.count << "  last "
                  << server.GetLastRequestTimeText(row) << "  "
                  << (now.valid ? "valid" : "not valid") << std::endl;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const bool stoppedListening = !g_interrupted;
  std::string message = MessageText(server);
  if (!message.empty()) std::cerr << message;
  return stoppedListening ? kExitStartFailed : 0;
}

struct AssignArguments {
  std::string mac;
  std::string ip;
  std::string mask;
  std::string gateway;
  double timeoutSeconds = 0;
};

int Assign(const AssignArguments& args) {
  const quillnet::DeviceKey key = quillnet::ParseMacKey(args.mac);
  if (key == 0 || key >> 48 != 0) {
    std::cerr << "Not a MAC address: " << args.mac << '\n';
    return kExitUsage;
  }
  const std::string macText = quillnet::FormatMacAddress(key);

  std::string localIp;
  std::string localMask;
  std::string localGateway;
  if (!quillnet::QueryLocalAdapter(localIp, localMask, localGateway)) localIp.clear();
  std::string resultLine;
  const bool passed =
      quillnet::ValidateAddresses(args.ip, args.mask, quillnet::SubnetPrefix(localIp), resultLine);
  if (!passed) {
    std::cerr << (resultLine.empty() ? "The IP address and the subnet mask must each be four "
                                       "numbers separated by dots."
                                     : resultLine)
              << '\n';
    return kExitRefused;
  }
  if (!resultLine.empty()) std::cerr << resultLine << '\n';

  BootPServer server;
  if (!StartServer(server)) return kExitStartFailed;
  server.Arm(macText, args.ip, args.mask, args.gateway);
  std::cout << "Waiting for a BOOTP request from " << macText << " ..." << std::endl;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(args.timeoutSeconds);
  bool answered = false;
  {
    Worker worker(server);
    while (!g_interrupted) {
      if (!server.IsArmed()) {
        answered = true;
        break;
      }
      if (args.timeoutSeconds > 0 && std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(kPollInterval);
    }
    server.Disarm();
  }

  if (!answered) {
    if (g_interrupted) {
      std::cerr << "Interrupted before " << macText << " asked for an address.\n";
    } else {
      std::cerr << "No BOOTP request from " << macText << " within " << args.timeoutSeconds
                << " seconds.\n";
    }
    return kExitTimeout;
  }
  const std::string message = MessageText(server);
  if (!server.WasReplySent()) {
    std::cerr << "The reply to " << macText << " could not be sent: " << message;
    return kExitSendFailed;
  }
  std::cout << "Sent to " << macText << ": IP address " << args.ip << ", subnet mask "
            << args.mask << ", default gateway "
            << (args.gateway.empty() ? std::string("0.0.0.0") : args.gateway) << std::endl;
  if (!message.empty()) {
    // Sent, but not out of every interface.
    std::cerr << "Warning: " << message;
  }
  return kExitSent;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quillnet BOOTP server without the wizard."};
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 the reply was sent (assign) or listening ended by Ctrl+C (listen); "
      "2 invalid arguments; 3 the addresses failed the check; 4 the server could not start "
      "or stopped listening; "
      "5 the reply could not be sent; 6 no request from the device before the timeout or "
      "an interruption.");

  CLI::App* listen = app.add_subcommand("listen", "List the devices that ask for an address.");

  AssignArguments args;
  CLI::App* assign =
      app.add_subcommand("assign", "Answer a device's next BOOTP request with these addresses.");
  assign->add_option("MAC", args.mac, "The device's MAC address, e.g. 02:00:5e:10:20:30")
      ->required();
  assign->add_option("IP", args.ip, "The IP address to give it")->required();
  assign->add_option("MASK", args.mask, "Its subnet mask")->required();
  assign->add_option("GATEWAY", args.gateway, "Its default gateway (none: 0.0.0.0)");
  assign->add_option("--timeout", args.timeoutSeconds, "Give up after SECONDS (0: wait for ever)")
      ->check(CLI::NonNegativeNumber);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? 0 : kExitUsage;
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  if (*listen) return Listen();
  return Assign(args);
}
