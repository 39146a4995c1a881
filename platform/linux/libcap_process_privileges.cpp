// The process's own privileges on Linux: its effective capabilities, and the first port the
// kernel lets everyone bind.
#include "platform/process_privileges.h"

#include <sys/capability.h>

#include <fstream>

namespace quillnet {
namespace {

constexpr int kFirstPrivilegedPort = 1024;

bool ProcessHasCapability(cap_value_t capability) {
  cap_t capabilities = cap_get_proc();
  if (capabilities == nullptr) return false;
  cap_flag_value_t value = CAP_CLEAR;
  const bool read = cap_get_flag(capabilities, capability, CAP_EFFECTIVE, &value) == 0;
  cap_free(capabilities);
  return read && value == CAP_SET;
}

}  // namespace

bool MayBindPort(std::uint16_t port) {
  int unprivilegedStart = kFirstPrivilegedPort;
  std::ifstream setting("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  if (int start = 0; setting >> start) unprivilegedStart = start;
  if (port >= unprivilegedStart) return true;
  return ProcessHasCapability(CAP_NET_BIND_SERVICE);
}

bool ProcessHasRawCapability() { return ProcessHasCapability(CAP_NET_RAW); }

}  // namespace quillnet
