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

// A Debian package's programs live among every other package's in /usr/bin: no folder tells
// them apart.
std::string InstalledProgramFolder() { return {}; }

bool IsFileInFolder(const std::string& path, const std::string& folder) {
  std::string prefix = folder;
  if (prefix.empty()) return false;
  if (!prefix.ends_with('/')) prefix += '/';
  return path.size() > prefix.size() && path.starts_with(prefix) &&
         path.find('/', prefix.size()) == std::string::npos;
}

std::string CapabilityCommand(const std::string& programPath) {
  return "sudo setcap cap_net_bind_service,cap_net_raw=+ep " + ShellQuoted(programPath);
}

}  // namespace quillnet
