#pragma once

#include <memory>
#include <string>

namespace quillnet {

// Where a launcher of an installed copy goes.
enum class LauncherPlace { kDesktop, kMenu };

// Puts a copy of the running program into a folder, with launchers for it, in the ways of the
// system it runs on: on Linux a file beside its icon, with freedesktop launchers, and no file
// that an installed package owns replaced; on Windows Quillnet.exe with shell links.
class ProgramInstaller {
 public:
  virtual ~ProgramInstaller() = default;
  // The folder offered first.
  virtual std::string DefaultFolder() const = 0;
  // The full path of the folder that `text` (as typed) names; one that is not a full path is
  // taken below the home folder. "" with `why` (a sentence for the user) when there is none.
  virtual std::string FullFolder(const std::string& text, std::string& why) const = 0;
  // The nearest folder that exists at or above the one `text` names, for a folder chooser to
  // open at; "" when there is none.
  virtual std::string ExistingFolderAt(const std::string& text) const = 0;
  // Why no copy may go into `folder` (for instance, a file of an installed package would be
  // replaced); "" when it may. Nothing is written.
  virtual std::string Refusal(const std::string& folder) const = 0;
  // Copies the program (and what its launchers need) into `folder`, making the folder as
  // needed. False with `why` (the system's reason), and then nothing is left in folders the
  // copy made.
  virtual bool CopyProgram(const std::string& folder, std::string& why) = 0;
  // A launcher of the copy in `folder`. False with `why`.
  virtual bool CreateLauncher(const std::string& folder, LauncherPlace place, std::string& why) = 0;
};

// What the installer copies and asks; "" for the running program and the system's own.
struct InstallerSettings {
  std::string programFile;
  std::string packageQuery;
};

std::unique_ptr<ProgramInstaller> MakeProgramInstaller(const InstallerSettings& settings);

}  // namespace quillnet
