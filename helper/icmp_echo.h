#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// ICMP echo (RFC 792) toward a device behind a router, where ARP cannot reach: the calls the
// check after a reply makes, in the programs and in quillnet-net-helper. Every call returns 0
// on success or an errno.
namespace quillnet {

// The ICMP message: type, code, checksum, identifier, sequence, then the data.
inline constexpr std::size_t kIcmpTypeOffset = 0;
inline constexpr std::size_t kIcmpCodeOffset = 1;
inline constexpr std::size_t kIcmpChecksumOffset = 2;
inline constexpr std::size_t kIcmpIdentifierOffset = 4;
inline constexpr std::size_t kIcmpSequenceOffset = 6;
inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIcmpEchoDataSize = 8;
inline constexpr std::size_t kIcmpEchoSize = kIcmpHeaderSize + kIcmpEchoDataSize;
static_assert(kIcmpSequenceOffset + 2 == kIcmpHeaderSize);
inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;

// The RFC 1071 checksum of `length` bytes.
std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length);

// A socket for echo requests: an unprivileged ping socket where the system lets this user's
// group have one (net.ipv4.ping_group_range), else a raw ICMP socket (CAP_NET_RAW).
int OpenEchoSocket(int& socket);
// Sends one echo request to `ip` (network byte order).
int SendEcho(int socket, std::uint32_t ip, std::uint16_t sequence);
// Waits at most `timeout` for an echo reply from `ip` to this socket's requests.
int ReceiveEcho(int socket, std::uint32_t ip, bool& answered,
                std::chrono::milliseconds timeout);
void CloseEchoSocket(int socket);

}  // namespace quillnet
