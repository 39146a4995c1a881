// Installing a copy on Linux: the program file and its icon in the folder, freedesktop
// launchers on the desktop and in the applications menu.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/linux/package_owner.h"
#include "platform/linux/program_copy.h"
#include "platform/linux/program_icon.h"
#include "platform/linux/user_folders.h"
#include "platform/program_installer.h"

namespace quillnet {
namespace {

constexpr char kDefaultFolder[] = "/opt/Varnholt/Tools";
constexpr char kShortcutName[] = "Quillnet";
constexpr char kShortcutDescription[] = "Varnholt IP Addressing Tool";
constexpr char kShortcutCategories[] = "Network;";
// What earlier versions named every copy's launcher: the package's own desktop ID.
constexpr char kSharedShortcutFileName[] = "Quillnet.desktop";
constexpr char kIconFileName[] = "quillnet.png";
constexpr unsigned kIconMode = 0644;

bool IsFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The launcher an earlier version wrote for a copy, word for word.
ShellLink SharedLauncher(const std::string& exePath, const std::string& iconPath) {
  return ShellLink{kShortcutName, kShortcutDescription, exePath, iconPath, kShortcutCategories};
}

class DesktopProgramInstaller final : public ProgramInstaller {
 public:
  explicit DesktopProgramInstaller(const InstallerSettings& settings)
      : m_program(settings.programFile.empty() ? kRunningProgramFile : settings.programFile),
        m_packageQuery(settings.packageQuery.empty() ? kPackageQueryProgram
                                                     : settings.packageQuery) {}

  std::string DefaultFolder() const override { return kDefaultFolder; }

  std::string FullFolder(const std::string& text, std::string& why) const override {
    std::string path = text;
    // Below the home folder, not the folder the program happened to be started in, which the
    // user cannot see.
    if (!path.starts_with('/') && path != "~" && !path.starts_with("~/")) path = "~/" + path;
    const std::string full = FullPathName(path);
    if (full.empty()) {
      why = "There is no home folder to put \"" + text +
            "\" in. Please provide a full path, starting with /.";
    }
    return full;
  }

  std::string ExistingFolderAt(const std::string& text) const override {
    std::string folder = FullPathName(text);
    while (!folder.empty() && !IsFolder(folder)) {
      const std::size_t slash = folder.rfind('/');
      if (slash == std::string::npos) return {};
      const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
      if (parent == folder) break;
      folder = parent;
    }
    return folder;
  }

  std::string Refusal(const std::string& folder) const override {
    for (const char* name : {kInstalledProgramName, kIconFileName}) {
      const std::string file = JoinPath(folder, name);
      if (const std::string owner = OwningPackage(file, m_packageQuery); !owner.empty()) {
        return file + " belongs to the installed package " + owner + "; choose another folder.";
      }
    }
    return {};
  }

  bool CopyProgram(const std::string& folder, std::string& why) override {
    const std::string exePath = JoinPath(folder, kInstalledProgramName);
    const std::string iconPath = JoinPath(folder, kIconFileName);
    std::vector<std::string> created;
    if (!CreatePath(folder, &created, &why)) {
      RemoveCreatedFolders(created);
      return false;
    }
    // The launchers show the icon from beside the copy.
    const bool copied = CopyProgramFile(m_program, exePath, &why) &&
                        ReplaceFile(iconPath, std::string(ProgramIconPng()), kIconMode, &why);
    if (!copied && !created.empty()) {
      // The folder is the install's own: what went into it goes too, and then the folders.
      std::remove(exePath.c_str());
      std::remove(iconPath.c_str());
      RemoveCreatedFolders(created);
    }
    return copied;
  }

  bool CreateLauncher(const std::string& folder, LauncherPlace place, std::string& why) override {
    const bool desktop = place == LauncherPlace::kDesktop;
    const std::string launcherFolder =
        desktop ? DesktopFolder() : JoinPath(DataFolder(), "applications");
    const std::string exePath = JoinPath(folder, kInstalledProgramName);
    const std::string iconPath = JoinPath(folder, kIconFileName);
    const std::string file = JoinPath(launcherFolder, CopyLauncherFileName(folder));
    // Two copies are told apart by their folder.
    const ShellLink link{kShortcutName, std::string(kShortcutDescription) + ", copy in " + folder,
                         exePath, iconPath, kShortcutCategories};
    // Desktops start a launcher in the desktop folder only when it is marked executable.
    if (file.empty() || !SaveShellLink(link, file, desktop)) {
      why = "the launcher " + (file.empty() ? launcherFolder : file) + " could not be written";
      return false;
    }
    // This copy's launcher from an earlier version hides the package's menu entry; only one
    // that is word for word what was written for this copy goes.
    const std::string shared = JoinPath(launcherFolder, kSharedShortcutFileName);
    if (ReadWhole(shared) == DesktopEntryText(SharedLauncher(exePath, iconPath))) {
      std::remove(shared.c_str());
    }
    return true;
  }

 private:
  std::string m_program;
  std::string m_packageQuery;
};

}  // namespace

std::string CopyLauncherFileName(const std::string& folder) {
  // FNV-1a: the same on every run and every machine, unlike std::hash.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char byte : folder) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("com.varnholt.quillnet.copy-") + hex + ".desktop";
}

std::unique_ptr<ProgramInstaller> MakeProgramInstaller(const InstallerSettings& settings) {
  return std::make_unique<DesktopProgramInstaller>(settings);
}

}  // namespace quillnet
