#include "platform/linux/build_tree.h"

#include <sys/stat.h>

namespace quillnet {

std::string BuildTreeOf(const std::string& programPath) {
  std::string folder = programPath;
  for (std::size_t slash = folder.rfind('/'); slash != std::string::npos && slash > 0;
       slash = folder.rfind('/')) {
    folder.resize(slash);
    struct stat status {};
    if (::stat((folder + "/CMakeCache.txt").c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      return folder;
    }
  }
  return {};
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char character : text) {
    if (character == '\'') {
      quoted += "'\\''";
    } else {
      quoted += character;
    }
  }
  return quoted + "'";
}

}  // namespace quillnet
