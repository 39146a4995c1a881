#include "cli/listen.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/vendor_loader.h"
#include "cli/serving.h"
#include "wire/dhcp.h"

namespace quillnet::cli {
namespace {

constexpr auto kListenInterval = std::chrono::milliseconds(100);

// `vendors`: the makers, once the loop knows them read; nullptr before.
void ShowRequest(Output& output, const BootPServer::DeviceRow& device,
                 const VendorLoader* vendors) {
  const std::string last = BootPServer::RequestTimeText(device.lastTime);
  const std::string type = MessageTypeText(device.messageType);
  // A device behind a router is heard through its relay agent.
  const std::string relay = BootPServer::RelayText(device.relay);
  // The maker once the registries are read; none while they are, or when they cannot be.
  const VendorLookup vendor = vendors != nullptr ? vendors->Lookup(device.key) : VendorLookup{};
  const bool named = vendor.status != VendorStatus::kNotLoaded &&
                     vendor.status != VendorStatus::kUnavailable;
  nlohmann::json fields{{"mac", device.macText},
                        {"count", device.count},
                        {"last", last},
                        {"valid", device.valid},
                        {"type", type}};
  if (!relay.empty()) fields["relay"] = relay;
  if (named) fields["vendor"] = vendor.text;
  output.Event("request",
               device.macText + "  count " + std::to_string(device.count) + "  last " + last +
                   "  " + (device.valid ? "valid" : "not valid") + "  " + type +
                   (relay.empty() ? "" : "  via relay " + relay) +
                   (named ? "  vendor " + vendor.text : ""),
               fields);
}

}  // namespace

int Listen(Output& output, const std::atomic<bool>& interrupted) {
  // Read on a thread of their own: the first devices are listed without waiting for them.
  VendorLoader vendors;
  BootPServer server;
  if (!StartServer(server, output)) return kExitStartFailed;
  output.Event("listening", "Listening for BOOTP and DHCP requests on UDP port 67; Ctrl+C ends.");
  NoticeReporter notices(output, server);
  server.Listen();
  std::uint64_t revision = 0;
  std::vector<BootPServer::DeviceRow> changed;
  // The rows listed before the makers were known, by row: each is listed again with its maker.
  std::map<int, BootPServer::DeviceRow> unnamed;
  bool vendorsKnown = false;
  while (!interrupted && server.IsRunning() && !output.Failed()) {
    notices.Poll();
    // Each device that asked since the last look, once, in the order they were first heard.
    revision = server.GetChangedRows(revision, changed);
    std::sort(changed.begin(), changed.end(),
              [](const BootPServer::DeviceRow& a, const BootPServer::DeviceRow& b) {
                return a.row < b.row;
              });
    if (!vendorsKnown && vendors.Loaded()) {
      vendorsKnown = true;
      // A row that changed meanwhile is listed below anyway.
      for (const BootPServer::DeviceRow& device : changed) unnamed.erase(device.row);
      if (const std::string why = vendors.Unavailable(); !why.empty()) {
        output.Warning("Warning: the devices' makers are not named. " + why, {{"kind", "vendors"}});
      } else {
        for (const auto& [row, device] : unnamed) ShowRequest(output, device, &vendors);
      }
      unnamed.clear();
    }
    for (const BootPServer::DeviceRow& device : changed) {
      // Named only once the loop knows the makers read, so no row is listed twice with them.
      ShowRequest(output, device, vendorsKnown ? &vendors : nullptr);
      if (!vendorsKnown) unnamed[device.row] = device;
    }
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
