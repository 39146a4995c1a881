// The neighbour check on Windows, which gives a program no raw socket: IP Helper asks the
// network. ResolveIpNetEntry2 drops the neighbour cache's entry and asks on the probe's own
// interface; the neighbour entry it fills names the holder. Where it is missing, SendARP asks,
// which may answer from a stale cache entry and asks through the interface the routes choose.
// Either asks only for an address on the interface's own subnet; a probe asked anywhere else
// fails instead of passing for silence.
//
// ICMP echo, which reaches a device behind a router, is asked with IcmpSendEcho2.
//
// Each of these calls waits until it is answered or gives up, which may take longer than a
// round: every question runs on a thread of its own, and the probe takes the answers as they
// come.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "platform/neighbour_check.h"
#include "platform/net_helper.h"
#include "platform/probe_rounds.h"
#include "platform/process_privileges.h"
#include "platform/windows/adapter_addresses.h"
#include "platform/winsock_errors.h"

namespace quillnet {
namespace {

using ResolveIpNetEntry2Function = NETIO_STATUS(WINAPI*)(PMIB_IPNET_ROW2, const SOCKADDR_INET*);

// Windows has it since Vista; Wine does not export it, so it is looked up rather than linked.
ResolveIpNetEntry2Function ResolveFunction() {
  static const auto resolve = reinterpret_cast<ResolveIpNetEntry2Function>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"iphlpapi.dll"), "ResolveIpNetEntry2")));
  return resolve;
}

// Wine answers every SendARP with ERROR_NOT_SUPPORTED; Windows checks its arguments first, so
// a call without any asks nothing of the network.
bool SendArpSupported() {
  static const bool supported =
      ResolveFunction() != nullptr || ::SendARP(0, 0, nullptr, nullptr) != ERROR_NOT_SUPPORTED;
  return supported;
}

constexpr ULONG kMacLength = 6;

// Who answers at `ip`, asked on the interface; nullopt when nobody does.
std::optional<DeviceKey> AskNeighbour(int interfaceIndex, std::uint32_t ip) {
  std::array<std::uint8_t, kMacLength> bytes{};
  if (ResolveIpNetEntry2Function resolve = ResolveFunction()) {
    MIB_IPNET_ROW2 row{};
    row.InterfaceIndex = static_cast<NET_IFINDEX>(interfaceIndex);
    row.Address.si_family = AF_INET;
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = ip;
    // No answer (ERROR_BAD_NET_NAME) is what silence looks like here.
    if (resolve(&row, nullptr) != NO_ERROR || row.PhysicalAddressLength != kMacLength) {
      return std::nullopt;
    }
    std::copy_n(row.PhysicalAddress, kMacLength, bytes.begin());
  } else {
    ULONG mac[2] = {};
    ULONG length = kMacLength;
    if (::SendARP(ip, 0, mac, &length) != NO_ERROR || length != kMacLength) return std::nullopt;
    std::memcpy(bytes.data(), mac, kMacLength);
  }
  DeviceKey holder = 0;
  for (const std::uint8_t byte : bytes) holder = (holder << 8) | byte;
  if (holder == 0) return std::nullopt;
  return holder;
}

// How long one echo request waits for its reply; the probe sends the next one meanwhile.
constexpr DWORD kEchoWaitMs = 1000;
constexpr std::uint8_t kEchoData[] = "Quillnet";

bool EchoAvailable() {
  const HANDLE icmp = ::IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) return false;
  ::IcmpCloseHandle(icmp);
  return true;
}

// Asks `ip` once, waiting for its reply; true when it answered. `ip` is in network order.
bool EchoAnswered(std::uint32_t ip) {
  const HANDLE icmp = ::IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) return false;
  // Room for the reply with its data, 8 bytes of an ICMP error, and the I/O status block (two
  // pointers' worth) that the call may write after them.
  std::array<std::uint8_t, sizeof(ICMP_ECHO_REPLY) + sizeof kEchoData + 8 + 2 * sizeof(void*)>
      reply{};
  const DWORD count = ::IcmpSendEcho2(icmp, nullptr, nullptr, nullptr, ip,
                                      const_cast<std::uint8_t*>(kEchoData), sizeof kEchoData,
                                      nullptr, reply.data(), static_cast<DWORD>(reply.size()),
                                      kEchoWaitMs);
  ::IcmpCloseHandle(icmp);
  if (count == 0) return false;
  ICMP_ECHO_REPLY first{};
  std::memcpy(&first, reply.data(), sizeof first);
  return first.Status == IP_SUCCESS && first.Address == ip;
}

bool InSubnet(std::uint32_t ip, const WinAdapter::Address& address) {
  const int prefix = std::clamp(address.prefixLength, 0, 32);
  const std::uint32_t mask = prefix == 0 ? 0 : ::htonl(~std::uint32_t{0} << (32 - prefix));
  return (ip & mask) == (address.address & mask);
}

// Whether the question for `ip` leaves through the interface: the address is on one of its
// subnets and, for SendARP, the routes choose it.
int CheckReach(const std::vector<WinAdapter>& adapters, int interfaceIndex, std::uint32_t ip) {
  const auto adapter = std::find_if(adapters.begin(), adapters.end(), [&](const WinAdapter& a) {
    return a.index == interfaceIndex;
  });
  if (adapter == adapters.end() || !adapter->up) return WSAENETDOWN;
  if (std::none_of(adapter->addresses.begin(), adapter->addresses.end(),
                   [&](const WinAdapter::Address& address) { return InSubnet(ip, address); })) {
    return WSAENETUNREACH;
  }
  DWORD best = 0;
  if (ResolveFunction() == nullptr &&
      (::GetBestInterface(ip, &best) != NO_ERROR || best != static_cast<DWORD>(interfaceIndex))) {
    return WSAENETUNREACH;
  }
  return 0;
}

// The answers to one probe's questions. The threads that ask hold it too, so a probe that has
// ended while a question still waits is dropped by the last of them.
struct Answers {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<DeviceKey> holders;
  std::set<int> asking;  // the interfaces with a question under way
  bool over = false;
};

// Runs `ask` on a thread of its own; the holder it names, if any, joins the answers. False when
// no thread could be started.
bool StartAsking(const std::shared_ptr<Answers>& answers,
                 std::function<std::optional<DeviceKey>()> ask) {
  try {
    std::thread([answers, ask = std::move(ask)] {
      const std::optional<DeviceKey> holder = ask();
      std::lock_guard lock(answers->mutex);
      if (!holder || answers->over) return;
      answers->holders.push_back(*holder);
      answers->arrived.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Asks with `round` at once and then in every round, until `counts` takes one of the answers
// (kAnswered with it) or the rounds are over (kSilent). `round` returns how many questions it
// asked; when the first asked none, `failure`, which it fills, is the result.
ProbeResult AskInRounds(const ProbeRequest& request, Answers& answers,
                        const std::function<int()>& round,
                        const std::function<bool(DeviceKey)>& counts, const FirstFailure& failure) {
  ProbeRounds rounds(request);
  rounds.RoundDue();
  ProbeResult result = round() == 0 ? failure.Result() : ProbeResult{};
  while (result.outcome == ProbeOutcome::kSilent && !rounds.Over()) {
    if (rounds.RoundDue()) round();
    std::unique_lock lock(answers.mutex);
    if (!answers.arrived.wait_for(lock, rounds.Wait(), [&] { return !answers.holders.empty(); })) {
      continue;
    }
    const DeviceKey holder = answers.holders.front();
    answers.holders.pop_front();
    if (counts(holder)) result = ProbeAnswered(holder);
  }
  std::lock_guard lock(answers.mutex);
  answers.over = true;
  return result;
}

std::string FailureText(const std::string& what, int code) {
  return what + " " + WinsockCodeText(code);
}

class IpHelperNeighbourCheck final : public NeighbourCheck {
 protected:
  ProbeResult WhoAnswers(const ProbeRequest& request) override {
    // There is no helper on Windows: what the doctor says of it tells why nothing can be asked.
    if (!SendArpSupported()) {
      std::string path;
      const NetHelperFailure missing = CheckNetHelperProbes(path);
      return ProbeFailed(missing.error, missing.text);
    }
    FirstFailure failure;
    std::vector<int> asked;
    std::vector<DeviceKey> ownMacs;
    std::vector<WinAdapter> adapters;
    const bool read = ReadWinAdapters(adapters) == WinAdapterResult::kOk;
    for (const int index : request.interfaces) {
      const auto adapter = std::find_if(adapters.begin(), adapters.end(), [&](const WinAdapter& a) {
        return a.index == index && a.mac != 0;
      });
      if (adapter == adapters.end()) {
        const int error = read ? WSAEINVAL : WSAENETDOWN;
        failure.Note(error, FailureText("reading the MAC address of interface " +
                                            std::to_string(index) + " failed",
                                        error));
        continue;
      }
      asked.push_back(index);
      ownMacs.push_back(adapter->mac);
    }
    const auto answers = std::make_shared<Answers>();
    const auto round = [&] {
      std::vector<WinAdapter> now;
      const bool readNow = ReadWinAdapters(now) == WinAdapterResult::kOk;
      int sent = 0;
      for (const int index : asked) {
        int error = readNow ? CheckReach(now, index, request.ip) : WSAENETDOWN;
        if (error == 0) error = Ask(answers, index, request.ip);
        if (error != 0) {
          failure.Note(error, FailureText("sending an ARP probe on interface " +
                                              std::to_string(index) + " failed",
                                          error));
        } else {
          ++sent;
        }
      }
      return sent;
    };
    return AskInRounds(
        request, *answers, round,
        [&](DeviceKey holder) { return HolderCounts(request, holder, ownMacs); }, failure);
  }

  ProbeResult AnswersEcho(const ProbeRequest& request) override {
    // IcmpSendEcho2 needs no privilege: any program may ask, where the system has it.
    if (!EchoAvailable()) return ProbeFailed(kWsaEopnotsupp, kNoEchoText);
    FirstFailure failure;
    const auto answers = std::make_shared<Answers>();
    const std::uint32_t ip = request.ip;
    const auto round = [&] {
      if (StartAsking(answers, [ip]() -> std::optional<DeviceKey> {
            if (!EchoAnswered(ip)) return std::nullopt;
            return DeviceKey{0};
          })) {
        return 1;
      }
      // Only a first request that could not be sent ends the probe.
      failure.Note(WSAENOBUFS, FailureText("sending an ICMP echo request failed", WSAENOBUFS));
      return 0;
    };
    return AskInRounds(request, *answers, round, [](DeviceKey) { return true; }, failure);
  }

 private:
  // One question at a time per interface: the call itself asks again until it is answered or
  // gives up.
  static int Ask(const std::shared_ptr<Answers>& answers, int index, std::uint32_t ip) {
    {
      std::lock_guard lock(answers->mutex);
      if (!answers->asking.insert(index).second) return 0;
    }
    const bool started = StartAsking(answers, [answers, index, ip] {
      const std::optional<DeviceKey> holder = AskNeighbour(index, ip);
      std::lock_guard lock(answers->mutex);
      answers->asking.erase(index);
      return holder;
    });
    if (started) return 0;
    std::lock_guard lock(answers->mutex);
    answers->asking.erase(index);
    return WSAENOBUFS;
  }
};

}  // namespace

NeighbourCheck& SystemNeighbourCheck() {
  static IpHelperNeighbourCheck check;
  return check;
}

std::vector<int> ArpInterfaces() {
  std::vector<int> indexes;
  std::vector<WinAdapter> adapters;
  if (ReadWinAdapters(adapters) != WinAdapterResult::kOk) return indexes;
  for (const WinAdapter& adapter : adapters) {
    if (adapter.up && adapter.ethernet && !adapter.loopback && adapter.mac != 0) {
      indexes.push_back(adapter.index);
    }
  }
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  return indexes;
}

// Windows has no capabilities: any program may ask the neighbours, where the system lets it.
bool ProcessHasRawCapability() { return SendArpSupported(); }

}  // namespace quillnet
