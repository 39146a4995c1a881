#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillnet {

// A process holding a UDP port. pid 0: the socket is there but its process could not be seen
// (another user's, without root).
struct PortOwner {
  std::uint64_t inode = 0;
  std::uint32_t uid = 0;
  int pid = 0;
  std::string name;
};

// The sockets of this network namespace bound to the UDP `port`, with the processes holding
// them where this system lets this user see them.
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

}  // namespace quillnet
