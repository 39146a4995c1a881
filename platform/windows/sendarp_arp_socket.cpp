// ARP probes on Windows, which gives a program no raw socket: IP Helper asks the network, and
// its answer comes back as the ARP reply frame the holder would have sent, so the probe reads
// it as it reads a packet socket's frames. ResolveIpNetEntry2 drops the neighbour cache's entry
// and asks on the probe's own interface; where it is missing, SendARP asks, which may answer
// from a stale cache entry and asks through the interface the routes choose. Either asks only
// for an address on the interface's own subnet; a probe sent anywhere else fails instead of
// passing for silence.
//
// ICMP echo, which reaches a device behind a router, is asked with IcmpSendEcho2: one request
// a thread, whose reply, when one comes within kEchoWaitMs, the socket's ReceiveEcho hands on.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/arp_socket.h"
#include "platform/net_helper.h"
#include "platform/process_privileges.h"
#include "platform/windows/adapter_addresses.h"
#include "wire/arp.h"

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

// Who answers at `ip`, asked on the interface: a holder of 0 when nobody does.
DWORD AskNeighbour(int interfaceIndex, std::uint32_t ip, std::uint64_t& holder) {
  holder = 0;
  std::array<std::uint8_t, kMacSize> bytes{};
  if (ResolveIpNetEntry2Function resolve = ResolveFunction()) {
    MIB_IPNET_ROW2 row{};
    row.InterfaceIndex = static_cast<NET_IFINDEX>(interfaceIndex);
    row.Address.si_family = AF_INET;
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = ip;
    const DWORD result = resolve(&row, nullptr);
    if (result != NO_ERROR) return result;
    if (row.PhysicalAddressLength != kMacSize) return ERROR_BAD_NET_NAME;
    std::copy_n(row.PhysicalAddress, kMacSize, bytes.begin());
  } else {
    ULONG mac[2] = {};
    ULONG length = kMacSize;
    const DWORD result = ::SendARP(ip, 0, mac, &length);
    if (result != NO_ERROR) return result;
    if (length != kMacSize) return ERROR_BAD_NET_NAME;
    std::memcpy(bytes.data(), mac, kMacSize);
  }
  for (const std::uint8_t byte : bytes) holder = (holder << 8) | byte;
  return NO_ERROR;
}

bool InSubnet(std::uint32_t ip, const WinAdapter::Address& address) {
  const int prefix = std::clamp(address.prefixLength, 0, 32);
  const std::uint32_t mask = prefix == 0 ? 0 : ::htonl(~std::uint32_t{0} << (32 - prefix));
  return (ip & mask) == (address.address & mask);
}

// One open probe: the replies SendARP brought, and the addresses still being asked for. The
// threads that ask hold it too, so a probe closed while SendARP still waits is dropped by
// the last of them.
struct ProbeState {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::pair<ArpFrame, int>> replies;
  std::set<std::uint32_t> asking;
  bool closed = false;
};

// How long one echo request waits for its reply; the probe sends the next one meanwhile.
constexpr DWORD kEchoWaitMs = 1000;
constexpr std::uint8_t kEchoData[] = "Quillnet";

// One open echo socket: the number of replies heard from each address and not yet taken.
struct EchoState {
  std::mutex mutex;
  std::condition_variable arrived;
  std::map<std::uint32_t, int> replies;
  bool closed = false;
};

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

class WinArpSocketApi final : public ArpSocketApi {
 public:
  int Open(SocketHandle& socket) override {
    socket = kInvalidSocket;
    // Refused, the probe asks StartHelperProbes, which says why in words.
    if (!SendArpSupported()) return WSAEACCES;
    std::lock_guard lock(m_mutex);
    socket = ++m_lastHandle;
    m_probes[socket] = std::make_shared<ProbeState>();
    return 0;
  }

  int HardwareAddress(int interfaceIndex, std::uint64_t& mac) override {
    mac = 0;
    std::vector<WinAdapter> adapters;
    if (ReadWinAdapters(adapters) != WinAdapterResult::kOk) return WSAENETDOWN;
    for (const WinAdapter& adapter : adapters) {
      if (adapter.index == interfaceIndex && adapter.mac != 0) {
        mac = adapter.mac;
        return 0;
      }
    }
    return WSAEINVAL;
  }

  int SendFrame(SocketHandle socket, int interfaceIndex,
                std::span<const std::uint8_t> frame) override {
    const std::shared_ptr<ProbeState> probe = ProbeOf(socket);
    if (!probe) return WSAENOTSOCK;
    std::uint32_t ip = 0;
    if (!ArpRequestTarget(frame, ip)) return WSAEINVAL;
    std::uint64_t asker = 0;
    if (const int error = CheckReach(interfaceIndex, ip, asker); error != 0) return error;
    {
      std::lock_guard lock(probe->mutex);
      // One question at a time per address: SendARP itself asks again until it is answered
      // or gives up.
      if (!probe->asking.insert(ip).second) return 0;
    }
    try {
      std::thread([probe, ip, asker, interfaceIndex] {
        std::uint64_t holder = 0;
        const DWORD result = AskNeighbour(interfaceIndex, ip, holder);
        std::lock_guard lock(probe->mutex);
        probe->asking.erase(ip);
        // No answer (ERROR_BAD_NET_NAME) is what silence looks like here.
        if (result != NO_ERROR || holder == 0 || probe->closed) return;
        probe->replies.emplace_back(BuildArpReply(holder, ip, asker), interfaceIndex);
        probe->arrived.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      std::lock_guard lock(probe->mutex);
      probe->asking.erase(ip);
      return WSAENOBUFS;
    }
    return 0;
  }

  int ReceiveFrame(SocketHandle socket, std::span<std::uint8_t> buffer, std::size_t& received,
                   int& interfaceIndex, std::chrono::milliseconds timeout) override {
    received = 0;
    interfaceIndex = 0;
    const std::shared_ptr<ProbeState> probe = ProbeOf(socket);
    if (!probe) return WSAENOTSOCK;
    std::unique_lock lock(probe->mutex);
    if (!probe->arrived.wait_for(lock, timeout, [&] { return !probe->replies.empty(); })) {
      return 0;
    }
    const auto& [frame, arrivedOn] = probe->replies.front();
    received = std::min(buffer.size(), frame.size());
    std::copy_n(frame.begin(), received, buffer.begin());
    interfaceIndex = arrivedOn;
    probe->replies.pop_front();
    return 0;
  }

  // There is no helper on Windows: asked only when SendARP is missing, this says so.
  std::unique_ptr<NetHelperClaims> StartHelperProbes(const std::vector<int>&, std::uint32_t,
                                                     std::chrono::milliseconds,
                                                     std::chrono::milliseconds,
                                                     NetHelperFailure& failure) override {
    std::string path;
    failure = CheckNetHelperProbes(path);
    return nullptr;
  }

  void Close(SocketHandle socket) override {
    std::shared_ptr<ProbeState> probe;
    std::shared_ptr<EchoState> echo;
    {
      std::lock_guard lock(m_mutex);
      if (const auto found = m_probes.find(socket); found != m_probes.end()) {
        probe = std::move(found->second);
        m_probes.erase(found);
      }
      if (const auto found = m_echoes.find(socket); found != m_echoes.end()) {
        echo = std::move(found->second);
        m_echoes.erase(found);
      }
    }
    if (probe) {
      std::lock_guard lock(probe->mutex);
      probe->closed = true;
    }
    if (echo) {
      std::lock_guard lock(echo->mutex);
      echo->closed = true;
    }
  }

  // IcmpSendEcho2 needs no privilege: any program may ask.
  int OpenEcho(SocketHandle& socket) override {
    const HANDLE icmp = ::IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) {
      socket = kInvalidSocket;
      return kWsaEopnotsupp;
    }
    ::IcmpCloseHandle(icmp);
    std::lock_guard lock(m_mutex);
    socket = ++m_lastHandle;
    m_echoes[socket] = std::make_shared<EchoState>();
    return 0;
  }

  int SendEcho(SocketHandle socket, std::uint32_t ip, std::uint16_t /*sequence*/) override {
    std::shared_ptr<EchoState> echo = EchoOf(socket);
    if (!echo) return WSAENOTSOCK;
    try {
      std::thread([echo, ip] {
        const bool answered = EchoAnswered(ip);
        std::lock_guard lock(echo->mutex);
        if (!answered || echo->closed) return;
        ++echo->replies[ip];
        echo->arrived.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      return WSAENOBUFS;
    }
    return 0;
  }

  int ReceiveEcho(SocketHandle socket, std::uint32_t ip, bool& answered,
                  std::chrono::milliseconds timeout) override {
    answered = false;
    std::shared_ptr<EchoState> echo = EchoOf(socket);
    if (!echo) return WSAENOTSOCK;
    std::unique_lock lock(echo->mutex);
    if (!echo->arrived.wait_for(lock, timeout, [&] { return echo->replies[ip] > 0; })) return 0;
    --echo->replies[ip];
    answered = true;
    return 0;
  }

 private:
  std::shared_ptr<EchoState> EchoOf(SocketHandle socket) {
    std::lock_guard lock(m_mutex);
    const auto found = m_echoes.find(socket);
    return found == m_echoes.end() ? nullptr : found->second;
  }

  std::shared_ptr<ProbeState> ProbeOf(SocketHandle socket) {
    std::lock_guard lock(m_mutex);
    const auto found = m_probes.find(socket);
    return found == m_probes.end() ? nullptr : found->second;
  }

  // Whether SendARP's question for `ip` leaves through the interface: the address is on one of
  // its subnets and the routes choose it. `mac` receives the interface's MAC address.
  static int CheckReach(int interfaceIndex, std::uint32_t ip, std::uint64_t& mac) {
    std::vector<WinAdapter> adapters;
    if (ReadWinAdapters(adapters) != WinAdapterResult::kOk) return WSAENETDOWN;
    const auto adapter = std::find_if(adapters.begin(), adapters.end(), [&](const WinAdapter& a) {
      return a.index == interfaceIndex;
    });
    if (adapter == adapters.end() || !adapter->up) return WSAENETDOWN;
    if (std::none_of(adapter->addresses.begin(), adapter->addresses.end(),
                     [&](const WinAdapter::Address& address) { return InSubnet(ip, address); })) {
      return WSAENETUNREACH;
    }
    // SendARP asks through the interface the routes choose, which must be this one.
    DWORD best = 0;
    if (ResolveFunction() == nullptr &&
        (::GetBestInterface(ip, &best) != NO_ERROR || best != static_cast<DWORD>(interfaceIndex))) {
      return WSAENETUNREACH;
    }
    mac = adapter->mac;
    return 0;
  }

  std::mutex m_mutex;
  SocketHandle m_lastHandle = 0;
  std::map<SocketHandle, std::shared_ptr<ProbeState>> m_probes;
  std::map<SocketHandle, std::shared_ptr<EchoState>> m_echoes;
};

}  // namespace

ArpSocketApi& SystemArpSocketApi() {
  static WinArpSocketApi api;
  return api;
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
