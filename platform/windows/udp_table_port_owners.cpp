// Who holds a UDP port, from IP Helper's table of UDP endpoints with their owning processes,
// named by the process list.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <map>
#include <memory>

#include "platform/port_owners.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

constexpr int kTableTries = 4;

// The owner's process id of every IPv4 and IPv6 UDP endpoint on `port`.
template <typename Table, typename Row>
std::vector<DWORD> OwnersIn(ULONG family, std::uint16_t port) {
  std::vector<DWORD> pids;
  DWORD size = 0;
  std::unique_ptr<std::uint8_t[]> buffer;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < kTableTries && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    buffer.reset(size == 0 ? nullptr : new (std::nothrow) std::uint8_t[size]);
    if (size != 0 && !buffer) return pids;
    result = ::GetExtendedUdpTable(buffer.get(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
  }
  if (result != NO_ERROR || !buffer) return pids;
  const auto* table = reinterpret_cast<const Table*>(buffer.get());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const Row& row = table->table[i];
    if (::ntohs(static_cast<u_short>(row.dwLocalPort)) == port) pids.push_back(row.dwOwningPid);
  }
  return pids;
}

// The file name of every running process, by id. The process list gives them without opening
// the processes, which another user's or a service's would refuse.
std::map<DWORD, std::string> ProcessNames() {
  std::map<DWORD, std::string> names;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    names[entry.th32ProcessID] = Utf8Text(entry.szExeFile);
  }
  ::CloseHandle(snapshot);
  return names;
}

}  // namespace

std::vector<PortOwner> FindUdpPortOwners(std::uint16_t port) {
  std::vector<DWORD> pids = OwnersIn<MIB_UDPTABLE_OWNER_PID, MIB_UDPROW_OWNER_PID>(AF_INET, port);
  for (const DWORD pid : OwnersIn<MIB_UDP6TABLE_OWNER_PID, MIB_UDP6ROW_OWNER_PID>(AF_INET6, port)) {
    pids.push_back(pid);
  }
  std::vector<PortOwner> owners;
  if (pids.empty()) return owners;
  const std::map<DWORD, std::string> names = ProcessNames();
  for (const DWORD pid : pids) {
    PortOwner owner;
    owner.pid = static_cast<int>(pid);
    const auto name = names.find(pid);
    // The System process (pid 4) holds the sockets of kernel services.
    owner.name = name != names.end() && !name->second.empty() ? name->second : "process";
    owners.push_back(std::move(owner));
  }
  return owners;
}

// The table names no process (Wine names none at all); Windows' own netstat, run as
// administrator, names the program behind each socket.
std::string UnseenPortOwnerText(const PortOwner& /*owner*/) {
  return "a program that Windows does not name (in a command prompt run as administrator, "
         "netstat -abno -p UDP names it)";
}

}  // namespace quillnet
