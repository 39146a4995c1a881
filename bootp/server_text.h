#pragma once

#include <string>

#include "platform/winsock_errors.h"

namespace quillnet {

// "<what> %d (%08X)\n": the server's failure texts give the code in decimal, then as eight
// upper-case hexadecimal digits.
inline std::string WithCode(const char* what, int code) {
  return std::string(what) + " " + WinsockCodeText(code) + "\n";
}

}  // namespace quillnet
