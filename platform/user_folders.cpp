#include "platform/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace quillnet {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

std::string ConfigFolder() {
  // The XDG rules say a relative value is invalid and must be ignored.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return config;
  }
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config";
}

namespace {

bool IsFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool MakePrivateFolders(const std::string& folder) {
  if (folder.empty()) return false;
  // From the top down, so that each missing folder is made here, with this mode.
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (!IsFolder(part)) {
      if (::mkdir(part.c_str(), 0700) == 0) {
        // mkdir's mode is narrowed by the umask.
        if (::chmod(part.c_str(), 0700) != 0) return false;
      } else if (errno != EEXIST) {
        return false;
      }
    }
    if (end == std::string::npos) break;
  }
  return IsFolder(folder);
}

}  // namespace quillnet
