#pragma once

#include <string>

#include "app/bootp_wizard_info.h"
#include "wizard/wizard97.h"

class QCheckBox;
class QLineEdit;

namespace quillnet {

// Control ids of the Install dialog.
inline constexpr int IDC_INSTALL_INSTRUCTION = 1101;
inline constexpr int IDC_INSTALL_PATH_LABEL = 1102;
inline constexpr int IDC_INSTALL_PATH = 1103;
inline constexpr int IDC_BROWSE_FOLDER = 1104;
inline constexpr int IDC_START_MENU_SHORTCUT = 1227;
inline constexpr int IDC_DESKTOP_SHORTCUT = 1228;

// Where the program is installed unless the user says otherwise.
inline constexpr char kDefaultInstallFolder[] = "/opt/Varnholt/Tools";
// The copy's name in the install folder.
inline constexpr char kInstalledProgramName[] = "quillnet";

// The file name of the launchers of the copy in `folder` (a full path): a desktop ID of the
// copy's own, so that it never hides the package's Quillnet.desktop, and the same for the
// same folder, so that installing there again replaces its launchers.
std::string CopyLauncherFileName(const std::string& folder);

// Puts a copy of the running program into a folder the user chooses, with launchers on the
// desktop and in the applications menu if asked for, and records the install in the settings.
// Reached only from the end pages' install check box; Next installs and returns to the end
// page it came from, which tells what the install came to. A folder holding a file of an
// installed package is refused before anything is written. Back leads to the Listen page.
class CInstallPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  CInstallPage();

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnWizardBack() override;
  int OnWizardNext() override;

 private:
  void BrowseInstallFolder();
  // The full path of the folder the field names, a relative one taken below the home folder;
  // "" after telling the user why there is none.
  std::string ReadInstallPath();
  // Why the copy may not go into `folder`: a package owns a file it would replace; "" when it
  // may.
  std::string PackageFileRefusal(const std::string& folder) const;
  // Copies, makes the launchers asked for and records the install; `why` gets the reason of
  // a failure. The end pages are told the outcome.
  bool InstallProgram(const std::string& folder, std::string& why);
  bool CopyProgram(const std::string& folder, std::string& why);
  bool CreateShortcuts(const std::string& folder, std::string& why);
  bool CreateShortcut(const std::string& folder, const std::string& launcherFolder,
                      bool executable, std::string& why);
  void ShowBox(const char* name, const QString& title, const QString& text, bool warning);

  QLineEdit* m_pathEdit = nullptr;
  QCheckBox* m_startMenuCheck = nullptr;
  QCheckBox* m_desktopCheck = nullptr;
  // The copy's and its icon's full paths, for the folder of the install under way.
  std::string m_exePath;
  std::string m_iconPath;
};

}  // namespace quillnet
