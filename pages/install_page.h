#pragma once

#include <memory>
#include <string>

#include "app/bootp_wizard_info.h"
#include "pages/wizard97.h"
#include "platform/program_installer.h"

namespace quillnet {

// Puts a copy of the running program into a folder the user chooses, with launchers on the
// desktop and in the applications menu if asked for, and records the install in the settings.
// Reached only from the end pages' install check box; Next installs and returns to the end
// page it came from, which tells what the install came to. A folder the system keeps for an
// installed package is refused before anything is written. Back leads to the Listen page.
class CInstallPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  CInstallPage();
  ~CInstallPage() override;

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardBack() override;
  int OnWizardNext() override;

 protected:
  void OnCommand(int id, ControlEvent event) override;

 private:
  ProgramInstaller& Installer();
  void BrowseInstallFolder();
  // The full path of the folder the field names; "" after telling the user why there is none.
  std::string ReadInstallPath();
  // Copies, makes the launchers asked for and records the install; `why` gets the reason of
  // a failure. The end pages are told the outcome.
  bool InstallProgram(const std::string& folder, std::string& why);
  bool CreateLaunchers(const std::string& folder, std::string& why);

  std::unique_ptr<ProgramInstaller> m_installer;
  // Next or Back is leaving the page; any other leave is a cancel.
  bool m_leaving = false;
  // The text a cancel here gave the Failure page, and what it says once the user tries again
  // from there: the cancel is old news then, the assignment's verdict or the page's own reason
  // are not.
  std::string m_cancelText;
  std::string m_afterCancel;
};

}  // namespace quillnet
