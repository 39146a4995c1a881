#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillnet {

// One row of /proc/net/udp or /proc/net/udp6: the socket's local port, owner and inode.
struct UdpSocketRow {
  std::uint16_t localPort = 0;
  std::uint32_t uid = 0;
  std::uint64_t inode = 0;
};

// The rows of a /proc/net/udp text (header line and unreadable lines skipped).
std::vector<UdpSocketRow> ParseProcNetUdp(std::string_view text);

// The inode of a descriptor link such as "socket:[12345]"; 0 for anything else.
std::uint64_t SocketInodeOfLink(std::string_view link);

// A process holding a UDP port. pid 0: the socket is there but its process could not be seen
// (another user's, without root).
struct PortOwner {
  std::uint64_t inode = 0;
  std::uint32_t uid = 0;
  int pid = 0;
  std::string name;
};

// The sockets of this network namespace bound to the UDP `port`, with the processes holding
// them where /proc lets this user see them.
std::vector<PortOwner> FindUdpPortOwners(std::uint16_t port);

// A holder of a port that this user cannot see, for a person, with the way this system has to
// name it.
std::string UnseenPortOwnerText(const PortOwner& owner);

// The holders of a port for a person: "name (pid N)" each, or what could not be seen of
// another user's process, separated by "; ". Empty when there is none.
inline std::string PortHoldersText(const std::vector<PortOwner>& owners) {
  std::string holders;
  for (const PortOwner& owner : owners) {
    holders += holders.empty() ? "" : "; ";
    holders += owner.pid != 0 ? owner.name + " (pid " + std::to_string(owner.pid) + ")"
                              : UnseenPortOwnerText(owner);
  }
  return holders;
}

// Whether this process may bind a port below 1024: its effective capabilities hold
// cap_net_bind_service (root has it), or the system lets everyone bind `port`.
bool MayBindPort(std::uint16_t port);

// Whether the file at `path` carries cap_net_bind_service in its permitted set.
bool FileMayBindPorts(const std::string& path);

// Whether this process may open the raw packet socket of ARP probes: its effective
// capabilities hold cap_net_raw (root has it).
bool ProcessHasRawCapability();

// Where the systems differ in what the checks above mean, for the advice given with them.
// Whether port 67 and ARP probes need privileges (capabilities) that quillnet-net-helper holds
// for the program; false where any program may use both (Windows).
bool NeedsNetHelper();
// Whether net.core.rmem_max caps a socket's receive buffer, so that sysctl can raise it.
bool ReceiveBufferCappedBySysctl();

}  // namespace quillnet
