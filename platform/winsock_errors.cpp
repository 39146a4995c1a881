#include "platform/winsock_errors.h"

#include <cerrno>
#include <cstdio>

namespace quillnet {

int WinsockErrorFromErrno(int error) {
  switch (error) {
    case EINTR: return kWsaEintr;
    case EBADF: return kWsaEbadf;
    case EACCES: return kWsaEacces;
    case EINVAL: return kWsaEinval;
    case EWOULDBLOCK: return kWsaEwouldblock;
    case ENOTSOCK: return kWsaEnotsock;
    case EMSGSIZE: return kWsaEmsgsize;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETDOWN: return kWsaEnetdown;
    case ENETUNREACH: return kWsaEnetunreach;
    case ECONNRESET: return kWsaEconnreset;
    case ENOBUFS: return kWsaEnobufs;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return kWsaBase + error;
  }
}

std::string WinsockCodeText(int code) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%d (%08X)", code, static_cast<unsigned>(code));
  return digits;
}

}  // namespace quillnet
