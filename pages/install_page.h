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
// The copy's name in the install folder, and the launchers' name.
inline constexpr char kInstalledProgramName[] = "quillnet";
inline constexpr char kShortcutFileName[] = "Quillnet.desktop";

// Puts a copy of the running program into a folder the user chooses, with launchers on the
// desktop and in the applications menu if asked for, and records the install in the settings.
// Reached only from the end pages' install check box; Next installs and always ends on the
// Completion page, Back leads to the Listen page.
class CInstallPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  CInstallPage();

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnWizardBack() override;
  int OnWizardNext() override;

 private:
  void BrowseInstallFolder();
  bool ReadInstallPath();
  bool InstallProgram();
  bool CopyProgram();
  bool CreateShortcuts();
  bool CreateShortcut(const std::string& target, const std::string& description,
                      const std::string& linkFile, bool executable);
  // Tells the Completion page of the copy, or that there is none.
  void ReportInstalledCopy(bool copied);

  QLineEdit* m_pathEdit = nullptr;
  QCheckBox* m_startMenuCheck = nullptr;
  QCheckBox* m_desktopCheck = nullptr;
  // The copy's full path, once an installation has made the folder.
  std::string m_exePath;
  std::string m_iconPath;
};

}  // namespace quillnet
