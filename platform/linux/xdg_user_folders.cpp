#include "platform/linux/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>
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

namespace {

// $<variable> when it is an absolute path (the XDG rules say a relative value is invalid and
// must be ignored), else <home>/<below>; "" without a home folder.
std::string XdgFolder(const char* variable, const char* below) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + below;
}

// The folder a line of user-dirs.dirs gives for `key`, as xdg-user-dirs writes them:
// KEY="$HOME/below" or KEY="/absolute", with backslash escapes. False for other lines.
bool ReadUserDirsLine(std::string_view line, std::string_view key, const std::string& home,
                      std::string& folder) {
  auto skipBlanks = [&line] {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  };
  skipBlanks();
  if (!line.starts_with(key)) return false;
  line.remove_prefix(key.size());
  skipBlanks();
  if (!line.starts_with('=')) return false;
  line.remove_prefix(1);
  skipBlanks();
  if (!line.starts_with('"')) return false;
  line.remove_prefix(1);
  constexpr std::string_view kHome = "$HOME";
  const bool belowHome = line.starts_with(kHome);
  if (belowHome) {
    line.remove_prefix(kHome.size());
    if (line.starts_with('/')) {
      line.remove_prefix(1);
    } else if (!line.starts_with('"')) {
      return false;  // $HOMEWORK is another variable
    }
    if (home.empty()) return false;
  } else if (!line.starts_with('/')) {
    return false;
  }
  std::string value;
  for (std::size_t index = 0; index < line.size() && line[index] != '"'; ++index) {
    if (line[index] == '\\' && index + 1 < line.size()) ++index;
    value += line[index];
  }
  folder = !belowHome ? value : value.empty() ? home : home + "/" + value;
  return true;
}

}  // namespace

std::string ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::string DataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string DesktopFolder() {
  const std::string home = HomeFolder();
  std::string desktop = home.empty() ? std::string() : home + "/Desktop";
  const std::string config = ConfigFolder();
  if (config.empty()) return desktop;
  std::ifstream dirs(config + "/user-dirs.dirs");
  // The last line for the key wins, as when the shell reads the file.
  for (std::string line; std::getline(dirs, line);) {
    ReadUserDirsLine(line, "XDG_DESKTOP_DIR", home, desktop);
  }
  return desktop;
}

namespace {

bool IsFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string FullPathName(const std::string& path) {
  if (path.empty()) return {};
  std::string full = path;
  if (path == "~" || path.starts_with("~/")) {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    full = home + path.substr(1);
  }
  if (full.front() != '/') {
    std::vector<char> current(PATH_MAX);
    if (::getcwd(current.data(), current.size()) == nullptr) return {};
    full = std::string(current.data()) + "/" + full;
  }
  std::string result;
  for (const char character : full) {
    if (character != '/' || result.empty() || result.back() != '/') result += character;
  }
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return {};
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

namespace {

bool CreateFolderPath(const std::string& path, std::vector<std::string>& created) {
  if (::mkdir(path.c_str(), 0777) == 0) {
    created.push_back(path);
    return true;
  }
  // A file of that name is no folder to install into.
  if (errno == EEXIST) {
    if (IsFolder(path)) return true;
    errno = ENOTDIR;
    return false;
  }
  if (errno != ENOENT) return false;
  const std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return false;
  if (!CreateFolderPath(cut == 0 ? "/" : path.substr(0, cut), created)) return false;
  if (::mkdir(path.c_str(), 0777) == 0) {
    created.push_back(path);
    return true;
  }
  // Someone else may have made it meanwhile; that is as good.
  return errno == EEXIST && IsFolder(path);
}

}  // namespace

bool CreatePath(const std::string& path, std::vector<std::string>* created, std::string* why) {
  // Absolute first: the parents of a relative path, found by cutting at "/", would end at its
  // first name instead of at the root, and that first name might not exist yet.
  const std::string full = FullPathName(path);
  std::vector<std::string> made;
  errno = 0;
  const bool ok = !full.empty() && CreateFolderPath(full, made);
  if (!ok && why != nullptr) *why = std::generic_category().message(errno != 0 ? errno : ENOENT);
  if (created != nullptr) *created = std::move(made);
  return ok;
}

void RemoveCreatedFolders(const std::vector<std::string>& created) {
  for (auto folder = created.rbegin(); folder != created.rend(); ++folder) {
    ::rmdir(folder->c_str());
  }
}

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
