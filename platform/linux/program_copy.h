#pragma once

#include <string>

namespace quillnet {

// Where the install puts the copy of the program, in the folder the user chooses.
inline constexpr char kInstalledProgramName[] = "quillnet";

// The file name of the launchers of the copy in `folder` (a full path): a desktop ID of the
// copy's own, so that it never hides the package's Quillnet.desktop, and the same for the
// same folder, so that installing there again replaces its launchers.
std::string CopyLauncherFileName(const std::string& folder);

// The running program's own file. It reads as the program that runs, even after the file on
// disk has been replaced or removed.
inline constexpr char kRunningProgramFile[] = "/proc/self/exe";

// Writes `contents` to `target` with `mode` (exactly, whatever the umask) through a temporary
// file in the target's folder, renamed over the target: readers see the old file or the new
// one, never a part of either, and a failed write leaves the old file as it was.
// On failure `why`, when given, gets the system's reason.
bool ReplaceFile(const std::string& target, const std::string& contents, unsigned mode,
                 std::string* why = nullptr);

// Copies the program file `source` to `target`, mode 0755, the same way, so an earlier copy
// is replaced whole, even one that is running. The copy never holds file capabilities: a
// privileged file that no package knows of would outlive the package's removal.
// A target that is the source itself is refused and left untouched. On failure `why`, when
// given, gets the reason.
bool CopyProgramFile(const std::string& source, const std::string& target,
                     std::string* why = nullptr);

// Whether the file at `path` holds cap_net_bind_service in its permitted and effective sets,
// so that it may listen on the BOOTP port without root.
bool HasPortCapability(const std::string& path);

// Whether the file at `path` holds cap_net_raw in its permitted and effective sets, so that it
// may send ARP probes without root.
bool FileHasRawCapability(const std::string& path);

// A launcher for a program, as a desktop shows it.
struct ShellLink {
  std::string name;
  std::string description;
  std::string target;  // the program's full path
  std::string icon;    // the icon file's full path
  std::string categories;  // menu categories, each followed by ";"
};

// The freedesktop desktop entry for `link`.
std::string DesktopEntryText(const ShellLink& link);

// Writes the launcher to `file` through ReplaceFile, making its folder (0700, as the XDG rules
// ask) when it is missing. `executable` for launchers in the desktop folder, which desktops
// start only when they are marked so.
bool SaveShellLink(const ShellLink& link, const std::string& file, bool executable);

}  // namespace quillnet
