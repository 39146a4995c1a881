#pragma once

// Socket failures are reported in Winsock numbering, so that every message text of the
// server reads the same on every platform ("10048 (00002740)" for an address in use).
#include <string>

namespace quillnet {

inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEbadf = 10009;
inline constexpr int kWsaEacces = 10013;
inline constexpr int kWsaEinval = 10022;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEmsgsize = 10040;
inline constexpr int kWsaEopnotsupp = 10045;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEaddrnotavail = 10049;
inline constexpr int kWsaEnetdown = 10050;
inline constexpr int kWsaEnetunreach = 10051;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnobufs = 10055;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaEhostunreach = 10065;
inline constexpr int kWsaNotInitialised = 10093;

// Errors without a Winsock counterpart become 10000 + errno.
inline constexpr int kWsaBase = 10000;

// Maps a POSIX errno value to its Winsock code.
int WinsockErrorFromErrno(int error);

// A code as every message gives it: in decimal, then as eight upper-case hexadecimal digits in
// parentheses ("10048 (00002740)").
std::string WinsockCodeText(int code);

}  // namespace quillnet
