#include "platform/program_file.h"

#include <unistd.h>

#include <array>

#include "platform/linux/build_tree.h"

namespace quillnet {

std::string RunningProgramPath() {
  std::array<char, 4096> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  return std::string(path.data(), static_cast<std::size_t>(length));
}

std::string CapabilityCommand(const std::string& programPath) {
  return "sudo setcap cap_net_bind_service,cap_net_raw=+ep " + ShellQuoted(programPath);
}

}  // namespace quillnet
