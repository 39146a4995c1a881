#pragma once

#include <atomic>
#include <string>

#include "cli/output.h"

namespace quillnet::cli {

struct StartupArguments {
  std::string ip;
  // "stored", "bootp" or "dhcp"; empty: only read the method.
  std::string method;
};

// Reads, or sets and reads back, the start-up method of the EtherNet/IP device at the address:
// how it finds its address at its next start (stored configuration, BOOTP or DHCP). Returns
// kExitSent when it was read or set, kExitNotKept when the device did not (none answers, it
// refused, it read back another method).
int Startup(const StartupArguments& args, Output& output, const std::atomic<bool>& interrupted);

}  // namespace quillnet::cli
