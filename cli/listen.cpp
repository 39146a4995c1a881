#include "cli/listen.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/serving.h"
#include "wire/dhcp.h"

namespace quillnet::cli {
namespace {

struct RowSeen {
  int count = 0;
  bool valid = false;
  std::uint8_t type = kBootpMessage;
  std::string relay;
  bool operator==(const RowSeen&) const = default;
};

constexpr auto kListenInterval = std::chrono::milliseconds(100);

}  // namespace

int Listen(Output& output, const std::atomic<bool>& interrupted) {
  BootPServer server;
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("listening", "Listening for BOOTP and DHCP requests on UDP port 67; Ctrl+C ends.");
  std::vector<RowSeen> seen;
  NoticeReporter notices(output, server);
  {
    Worker worker(server);
    while (!interrupted && server.IsRunning() && !output.Failed()) {
      notices.Poll();
      const int rows = server.GetRequestCount();
      for (int row = 0; row < rows; ++row) {
        if (static_cast<std::size_t>(row) >= seen.size()) seen.emplace_back();
        const RowSeen now{server.GetCount(row), server.IsValid(row), server.GetMessageType(row),
                          server.GetRelay(row)};
        if (now == seen[static_cast<std::size_t>(row)]) continue;
        seen[static_cast<std::size_t>(row)] = now;
        const std::string mac = server.GetMacText(row);
        const std::string last = server.GetLastRequestTimeText(row);
        const std::string type = MessageTypeText(now.type);
        nlohmann::json fields{{"mac", mac},
                              {"count", now.count},
                              {"last", last},
                              {"valid", now.valid},
                              {"type", type}};
        // A device behind a router is heard through its relay agent.
        if (!now.relay.empty()) fields["relay"] = now.relay;
        output.Event("request",
                     mac + "  count " + std::to_string(now.count) + "  last " + last + "  " +
                         (now.valid ? "valid" : "not valid") + "  " + type +
                         (now.relay.empty() ? "" : "  via relay " + now.relay),
                     fields);
      }
      std::this_thread::sleep_for(kListenInterval);
    }
  }
  if (output.Failed()) return kExitOutputFailed;
  notices.Flush();
  // A receive failure was said as it happened; only one that stopped the server ends the run.
  if (interrupted) return kExitSent;
  if (const std::string message = MessageText(server); !message.empty()) output.Error(message);
  return kExitStartFailed;
}

}  // namespace quillnet::cli
