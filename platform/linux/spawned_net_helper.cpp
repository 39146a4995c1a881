#include "platform/net_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <mutex>
#include <thread>

#include "helper/channel.h"
#include "helper/protocol.h"
#include "helper/wait_readable.h"
#include "platform/linux/build_tree.h"
#include "platform/linux/program_copy.h"
#include "platform/program_file.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

namespace protocol = helper;

// The helper answers the port request at once; a helper that does not is taken as failed.
constexpr auto kPortAnswerTimeout = std::chrono::seconds(10);
// How long a helper told to stop may take before it is killed.
constexpr auto kReapTimeout = std::chrono::seconds(2);
constexpr auto kReapPoll = std::chrono::milliseconds(5);

std::mutex g_portFailureMutex;
std::string g_portFailure;

void RecordPortFailure(const std::string& text) {
  const std::lock_guard lock(g_portFailureMutex);
  g_portFailure = text;
}

bool IsFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A program built from source gets its helper from its build, which places a copy beside it;
// an installed one from the package, which no build tree has.
NetHelperFailure NotFound(const std::string& program) {
  std::string text = std::string(kNetHelperName) + " was not found beside " + program +
                     " nor in " + kInstalledNetHelperFolder;
  if (const std::string build = BuildTreeOf(program); !build.empty()) {
    const std::string beside =
        program.substr(0, program.rfind('/') + 1) + kNetHelperName;
    text += ": build it again (cmake --build " + ShellQuoted(build) +
            " places it beside the program), then grant it its capabilities: " +
            CapabilityCommand(beside);
  } else {
    text += ": install the package that holds it: sudo apt install quillnet-cli";
  }
  return {kWsaEacces, text};
}

// The package lets only the group quillnet run the helper.
NetHelperFailure NotRunnable(const std::string& path) {
  return {kWsaEacces, "this user may not run " + path +
                          ": add yourself to the group quillnet (sudo usermod -aG quillnet "
                          "$USER), then log in again"};
}

// What the helper's own failure means to the user: a refusal is a capability its file lacks.
NetHelperFailure JobFailure(const std::string& path, int error, const char* capability,
                            const std::string& what) {
  if (error == EPERM || error == EACCES) {
    return {WinsockErrorFromErrno(error),
            path + " lacks " + capability + ": grant it with: " + CapabilityCommand(path)};
  }
  const int code = WinsockErrorFromErrno(error);
  return {code, path + " " + what + " failed " + WinsockCodeText(code)};
}

// Waits for the helper to end after its socket closed; kills it when it does not.
void Reap(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kReapTimeout;
  for (;;) {
    const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kReapPoll);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

struct Helper {
  int fd = -1;
  pid_t pid = -1;
};

// Starts the helper with an empty environment and one end of a new socket pair as its fd 3,
// no other descriptor of this program; `helper.fd` is the other end.
NetHelperFailure Start(const std::string& path, Helper& helper) {
  std::array<int, 2> pair{};
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair.data()) < 0) {
    const int code = WinsockErrorFromErrno(errno);
    return {code, "making the socket pair for " + path + " failed " + WinsockCodeText(code)};
  }
  // dup2 onto itself would leave close-on-exec set, so the child's end is moved off fd 3.
  if (pair[1] == protocol::kRequestFd) {
    const int moved = ::fcntl(pair[1], F_DUPFD_CLOEXEC, protocol::kRequestFd + 1);
    ::close(pair[1]);
    pair[1] = moved;
    if (moved < 0) {
      const int code = WinsockErrorFromErrno(errno);
      ::close(pair[0]);
      return {code, "making the socket pair for " + path + " failed " + WinsockCodeText(code)};
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], protocol::kRequestFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, protocol::kRequestFd + 1);
  std::string name = kNetHelperName;
  std::array<char*, 2> argv{name.data(), nullptr};
  std::array<char*, 1> environment{nullptr};
  pid_t pid = -1;
  const int error =
      ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pair[1]);
  if (error != 0) {
    ::close(pair[0]);
    if (error == EACCES || error == EPERM) return NotRunnable(path);
    const int code = WinsockErrorFromErrno(error);
    return {code, "starting " + path + " failed " + WinsockCodeText(code)};
  }
  helper = {pair[0], pid};
  return {};
}

NetHelperFailure NoAnswer(const std::string& path) {
  return {kWsaEacces, path + " ended without an answer"};
}

class HelperClaims final : public NetHelperClaims {
 public:
  struct Probe {
    Helper helper;
    int interfaceIndex = 0;
    bool ended = false;
  };

  HelperClaims(std::string path, std::vector<Probe> probes)
      : m_path(std::move(path)), m_probes(std::move(probes)) {}

  ~HelperClaims() override {
    for (const Probe& probe : m_probes) ::close(probe.helper.fd);
    for (const Probe& probe : m_probes) Reap(probe.helper.pid);
  }

  void Next(std::uint64_t& mac, int& interfaceIndex, bool& ended,
            std::chrono::milliseconds timeout, NetHelperFailure& failure) override {
    mac = 0;
    interfaceIndex = 0;
    ended = false;
    std::vector<pollfd> entries;
    std::vector<Probe*> running;
    for (Probe& probe : m_probes) {
      if (probe.ended) continue;
      entries.push_back({probe.helper.fd, POLLIN, 0});
      running.push_back(&probe);
    }
    if (entries.empty()) {
      End(ended, failure);
      return;
    }
    const int wait = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 0, INT_MAX));
    const int ready = ::poll(entries.data(), entries.size(), wait);
    if (ready <= 0) return;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].revents == 0) continue;
      Probe& probe = *running[i];
      protocol::Reply reply;
      int passed = -1;
      if (!protocol::ReceiveReply(probe.helper.fd, reply, passed) ||
          reply.kind == protocol::ReplyKind::kSocket) {
        if (passed >= 0) ::close(passed);
        NetHelperFailure ended = NoAnswer(m_path);
        ended.brokeOff = true;
        Note(std::move(ended));
        probe.ended = true;
        continue;
      }
      switch (reply.kind) {
        case protocol::ReplyKind::kClaim:
          mac = reply.mac;
          interfaceIndex = probe.interfaceIndex;
          return;
        case protocol::ReplyKind::kEchoReply:
          mac = kNetHelperEchoReply;
          interfaceIndex = probe.interfaceIndex;
          return;
        case protocol::ReplyKind::kProbeEnd:
          m_anyRan = true;
          probe.ended = true;
          break;
        case protocol::ReplyKind::kFailed:
          Note(JobFailure(m_path, reply.error, "cap_net_raw",
                          probe.interfaceIndex == 0
                              ? std::string("sending ICMP echo requests")
                              : "probing on interface " + std::to_string(probe.interfaceIndex)));
          probe.ended = true;
          break;
        default:
          break;
      }
    }
    if (std::all_of(m_probes.begin(), m_probes.end(),
                    [](const Probe& probe) { return probe.ended; })) {
      End(ended, failure);
    }
  }

 private:
  void Note(NetHelperFailure failure) {
    if (m_first.error == 0) m_first = std::move(failure);
  }

  // Every probe is over: a failure only when none of them ran its course.
  void End(bool& ended, NetHelperFailure& failure) const {
    ended = true;
    if (!m_anyRan) failure = m_first;
  }

  const std::string m_path;
  std::vector<Probe> m_probes;
  NetHelperFailure m_first;
  bool m_anyRan = false;
};

}  // namespace

bool NeedsNetHelper() { return true; }

std::string FindNetHelper(const std::string& programPath) {
  const std::size_t slash = programPath.rfind('/');
  if (slash != std::string::npos) {
    const std::string beside = programPath.substr(0, slash + 1) + kNetHelperName;
    if (IsFile(beside)) return beside;
  }
  const std::string installed = std::string(kInstalledNetHelperFolder) + "/" + kNetHelperName;
  return IsFile(installed) ? installed : std::string();
}

NetHelperFailure CheckNetHelperProbes(std::string& path) {
  const std::string program = RunningProgramPath();
  path = FindNetHelper(program);
  if (path.empty()) return NotFound(program);
  if (::access(path.c_str(), X_OK) != 0) return NotRunnable(path);
  if (!FileHasRawCapability(path)) return JobFailure(path, EPERM, "cap_net_raw", "");
  return {};
}

std::string LastPortHelperFailure() {
  const std::lock_guard lock(g_portFailureMutex);
  return g_portFailure;
}

int OpenBootpSocketThroughHelper(NetHelperFailure& failure) {
  const std::string program = RunningProgramPath();
  const std::string path = FindNetHelper(program);
  failure = path.empty() ? NotFound(program) : NetHelperFailure{};
  Helper helper;
  if (failure.error == 0) failure = Start(path, helper);
  int bound = -1;
  if (failure.error == 0) {
    protocol::Reply reply;
    if (!protocol::SendRequest(helper.fd, {protocol::RequestKind::kOpenBootpSocket, 0, 0, 0, 0}) ||
        WaitReadable(helper.fd, std::chrono::steady_clock::now() + kPortAnswerTimeout) <= 0 ||
        !protocol::ReceiveReply(helper.fd, reply, bound)) {
      failure = NoAnswer(path);
    } else if (reply.kind == protocol::ReplyKind::kFailed) {
      failure = JobFailure(path, reply.error, "cap_net_bind_service", "binding UDP port 67");
    } else if (reply.kind != protocol::ReplyKind::kSocket) {
      failure = NoAnswer(path);
    }
    ::close(helper.fd);
    Reap(helper.pid);
  }
  if (failure.error != 0 && bound >= 0) {
    ::close(bound);
    bound = -1;
  }
  RecordPortFailure(failure.text);
  return bound;
}

namespace {

// The probe request's duration and interval, within the helper's bounds; no probe after the
// first is asked as rarely as the helper allows.
void PutTimes(protocol::Request& request, std::chrono::milliseconds duration,
              std::chrono::milliseconds interval) {
  request.durationMs = static_cast<std::uint32_t>(std::clamp<std::chrono::milliseconds::rep>(
      duration.count(), protocol::kMinDurationMs, protocol::kMaxDurationMs));
  request.intervalMs = interval.count() <= 0
                           ? protocol::kMaxIntervalMs
                           : static_cast<std::uint32_t>(std::clamp<std::chrono::milliseconds::rep>(
                                 interval.count(), protocol::kMinIntervalMs, protocol::kMaxIntervalMs));
}

// One helper per request, each sent its own; null with `failure` filled when one failed.
std::unique_ptr<NetHelperClaims> StartHelpers(const std::vector<protocol::Request>& requests,
                                              NetHelperFailure& failure) {
  const std::string program = RunningProgramPath();
  const std::string path = FindNetHelper(program);
  if (path.empty()) {
    failure = NotFound(program);
    return nullptr;
  }
  std::vector<HelperClaims::Probe> probes;
  for (const protocol::Request& request : requests) {
    Helper helper;
    failure = Start(path, helper);
    if (failure.error != 0) break;
    probes.push_back({helper, request.interfaceIndex, false});
    if (!protocol::SendRequest(helper.fd, request)) {
      failure = NoAnswer(path);
      break;
    }
  }
  auto claims = std::make_unique<HelperClaims>(path, std::move(probes));
  if (failure.error != 0) return nullptr;
  return claims;
}

}  // namespace

std::unique_ptr<NetHelperClaims> StartNetHelperProbes(const std::vector<int>& interfaces,
                                                      std::uint32_t ip,
                                                      std::chrono::milliseconds duration,
                                                      std::chrono::milliseconds interval,
                                                      NetHelperFailure& failure) {
  std::vector<protocol::Request> requests;
  for (const int index : interfaces) {
    protocol::Request request{protocol::RequestKind::kProbeArp, index, ip, 0, 0};
    PutTimes(request, duration, interval);
    requests.push_back(request);
  }
  return StartHelpers(requests, failure);
}

std::unique_ptr<NetHelperClaims> StartNetHelperEcho(std::uint32_t ip,
                                                    std::chrono::milliseconds duration,
                                                    std::chrono::milliseconds interval,
                                                    NetHelperFailure& failure) {
  protocol::Request request{protocol::RequestKind::kProbeEcho, 0, ip, 0, 0};
  PutTimes(request, duration, interval);
  return StartHelpers({request}, failure);
}

}  // namespace quillnet
