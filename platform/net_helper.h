#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// quillnet-net-helper holds cap_net_bind_service and cap_net_raw so that the programs, which
// load the user's plugins, hold none. The programs start it only when the kernel refuses them.
namespace quillnet {

inline constexpr char kNetHelperName[] = "quillnet-net-helper";
inline constexpr char kInstalledNetHelperFolder[] = "/usr/lib/quillnet";

// Whether port 67 and ARP probes need privileges (capabilities) that the helper holds for the
// program; false where any program may use both (Windows). The advice after a refusal follows.
bool NeedsNetHelper();

// Why the helper could not do a job, for the user: what is wrong and the command that fixes
// it where there is one.
struct NetHelperFailure {
  int error = 0;  // Winsock-numbered; 0: no failure
  std::string text;
  // The job was under way when the helper ended without finishing it.
  bool brokeOff = false;
};

// The helper the program at `programPath` uses: the one beside it, else the installed one; ""
// when there is neither.
std::string FindNetHelper(const std::string& programPath);

// Whether the helper this program would use may send ARP probes for it, without starting it:
// found, runnable by this user, and its file holds cap_net_raw. `path` receives where it is.
NetHelperFailure CheckNetHelperProbes(std::string& path);

// What the last refused bind of port 67 that asked the helper learned, "" when none did.
std::string LastPortHelperFailure();

// A descriptor of a UDP socket bound to 0.0.0.0:67 by the helper, or -1 with `failure` filled.
int OpenBootpSocketThroughHelper(NetHelperFailure& failure);

// What a claim reports for an answer to an echo request: the address answered, and no MAC
// address is known (no MAC has bit 48 set).
inline constexpr std::uint64_t kNetHelperEchoReply = std::uint64_t{1} << 48;

// Devices that say they hold an address, heard by the helper's ARP probes or echo requests.
class NetHelperClaims {
 public:
  virtual ~NetHelperClaims() = default;
  // Waits at most `timeout` for a claim. mac == 0 when none came; `ended` once every probe's
  // duration passed. A failure of every probe is returned in `failure`.
  virtual void Next(std::uint64_t& mac, int& interfaceIndex, bool& ended,
                    std::chrono::milliseconds timeout, NetHelperFailure& failure) = 0;
};

// One helper per interface, each probing for `ip` (network byte order) every `interval` for
// `duration`, both held within the helper's bounds. Null with `failure` filled when none could
// be started.
std::unique_ptr<NetHelperClaims> StartNetHelperProbes(const std::vector<int>& interfaces,
                                                      std::uint32_t ip,
                                                      std::chrono::milliseconds duration,
                                                      std::chrono::milliseconds interval,
                                                      NetHelperFailure& failure);

// One helper sending echo requests to `ip` (network byte order) every `interval` for
// `duration`, within the helper's bounds; its claims are kNetHelperEchoReply. Null with
// `failure` filled when it could not be started.
std::unique_ptr<NetHelperClaims> StartNetHelperEcho(std::uint32_t ip,
                                                    std::chrono::milliseconds duration,
                                                    std::chrono::milliseconds interval,
                                                    NetHelperFailure& failure);

}  // namespace quillnet
