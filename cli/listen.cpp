#include "cli/listen.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/serving.h"
#include "wire/dhcp.h"

namespace quillnet::cli {
namespace {

constexpr auto kListenInterval = std::chrono::milliseconds(100);

void ShowRequest(Output& output, const BootPServer::DeviceRow& device) {
  const std::string last = BootPServer::RequestTimeText(device.lastTime);
  const std::string type = MessageTypeText(device.messageType);
  // A device behind a router is heard through its relay agent.
  const std::string relay = BootPServer::RelayText(device.relay);
  nlohmann::json fields{{"mac", device.macText},
                        {"count", device.count},
                        {"last", last},
                        {"valid", device.valid},
                        {"type", type}};
  if (!relay.empty()) fields["relay"] = relay;
  output.Event("request",
               device.macText + "  count " + std::to_string(device.count) + "  last " + last +
                   "  " + (device.valid ? "valid" : "not valid") + "  " + type +
                   (relay.empty() ? "" : "  via relay " + relay),
               fields);
}

}  // namespace

int Listen(Output& output, const std::atomic<bool>& interrupted) {
  BootPServer server;
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("listening", "Listening for BOOTP and DHCP requests on UDP port 67; Ctrl+C ends.");
  NoticeReporter notices(output, server);
  server.Listen();
  std::uint64_t revision = 0;
  std::vector<BootPServer::DeviceRow> changed;
  while (!interrupted && server.IsRunning() && !output.Failed()) {
    notices.Poll();
    // Each device that asked since the last look, once, in the order they were first heard.
    revision = server.GetChangedRows(revision, changed);
    std::sort(changed.begin(), changed.end(),
              [](const BootPServer::DeviceRow& a, const BootPServer::DeviceRow& b) {
                return a.row < b.row;
              });
    for (const BootPServer::DeviceRow& device : changed) ShowRequest(output, device);
    std::this_thread::sleep_for(kListenInterval);
  }
  server.Stop();
  if (output.Failed()) return kExitOutputFailed;
  notices.Flush();
  // A receive failure was said as it happened; only one that stopped the server ends the run.
  if (interrupted) return kExitSent;
  if (const std::string message = MessageText(server); !message.empty()) output.Error(message);
  return kExitStartFailed;
}

}  // namespace quillnet::cli
