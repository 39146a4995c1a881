#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// What /proc tells of UDP sockets, read to find who holds a port.
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

}  // namespace quillnet
