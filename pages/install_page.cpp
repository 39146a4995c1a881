#include "pages/install_page.h"

#include <cctype>

#include "dialogs/dialog_ids.h"

namespace quillnet {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

CInstallPage::CInstallPage()
    : CWizard97InteriorPageImpl(kInstallPageId, "installPage", kWizardPageTitle) {
  SetHeaderTitle("Path and Filter to Find Files");
  SetHeaderSubTitle("Select the path and filter identifying a list of files.");
}

CInstallPage::~CInstallPage() = default;

ProgramInstaller& CInstallPage::Installer() {
  if (!m_installer) {
    m_installer = MakeProgramInstaller(
        {m_pWizardInfo->GetProgramFile(), m_pWizardInfo->GetPackageQueryProgram()});
  }
  return *m_installer;
}

bool CInstallPage::OnInitDialog() {
  const std::string path = m_pWizardInfo->GetInstallPath();
  Window().SetText(IDC_INSTALL_PATH, path.empty() ? Installer().DefaultFolder() : path);
  return true;
}

void CInstallPage::OnCommand(int id, ControlEvent event) {
  if (id == IDC_BROWSE_FOLDER && event == ControlEvent::kClicked) BrowseInstallFolder();
}

int CInstallPage::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  m_leaving = false;
  return 0;
}

int CInstallPage::OnKillActive() {
  // Left by neither Next nor Back: cancelled. The Failure page that follows says so, and what
  // is true of the assignment the user came from, never an older page's text.
  if (!m_leaving) {
    const bool fromCompletion =
        m_pWizardInfo->GetInstallOrigin() == Sheet()->GetPageCount() - 1;
    const std::string verdict = m_pWizardInfo->GetVerdict();
    const bool withVerdict = fromCompletion && !verdict.empty();
    m_afterCancel = withVerdict ? verdict : m_pWizardInfo->GetStatusMessage();
    m_cancelText = "You cancelled saving a copy of Quillnet; nothing was saved." +
                   (withVerdict ? " The IP assignment was not affected.\r\n" + verdict
                                : std::string());
    m_pWizardInfo->SetStatusMessage(m_cancelText);
  }
  m_leaving = false;
  return 0;
}

int CInstallPage::OnWizardBack() {
  m_leaving = true;
  return kListenPageId;
}

int CInstallPage::OnWizardNext() {
  const std::string folder = ReadInstallPath();
  if (folder.empty()) return -1;
  std::string refusal;
  {
    WaitCursor wait(Window());
    refusal = Installer().Refusal(folder);
  }
  if (!refusal.empty()) {
    // Nothing was written; the user picks another folder here.
    Window().MessageBox("Choose another folder", refusal, BoxIcon::kWarning);
    Window().SetFocus(IDC_INSTALL_PATH);
    return -1;
  }
  bool installed = false;
  std::string why;
  {
    WaitCursor wait(Window());
    installed = InstallProgram(folder, why);
  }
  if (!installed) {
    if (!why.empty()) why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
    Window().MessageBox("Error", "Can't create specified folder.\n\n" + why, BoxIcon::kNone);
  }
  // Back to the end page the user came from: only the Completion page says an address was
  // assigned. The page is selected here, so the sheet moves no further.
  const int failure = Sheet()->GetPageCount() - 2;
  const int origin = m_pWizardInfo->GetInstallOrigin();
  m_leaving = true;
  // The end page tells of this try; a cancel before it is no longer news.
  if (m_pWizardInfo->GetStatusMessage() == m_cancelText) {
    m_pWizardInfo->SetStatusMessage(m_afterCancel);
  }
  Sheet()->SetCurSel(origin == failure + 1 ? origin : failure);
  return -1;
}

void CInstallPage::BrowseInstallFolder() {
  const std::optional<std::string> chosen = Window().ChooseFolder(
      "Root directory:", Installer().ExistingFolderAt(Trimmed(Window().GetText(IDC_INSTALL_PATH))));
  if (chosen && !chosen->empty()) Window().SetText(IDC_INSTALL_PATH, *chosen);
}

std::string CInstallPage::ReadInstallPath() {
  const std::string text = Trimmed(Window().GetText(IDC_INSTALL_PATH));
  if (text.empty()) {
    Window().MessageBox("No path", "Please provide a location to find files.", BoxIcon::kWarning);
    Window().SetFocus(IDC_INSTALL_PATH);
    return {};
  }
  std::string why;
  const std::string full = Installer().FullFolder(text, why);
  if (full.empty()) {
    Window().MessageBox("No path", why, BoxIcon::kWarning);
    Window().SetFocus(IDC_INSTALL_PATH);
    return {};
  }
  // The field shows the folder that is used.
  Window().SetText(IDC_INSTALL_PATH, full);
  m_pWizardInfo->SetInstallPath(full);
  return full;
}

bool CInstallPage::InstallProgram(const std::string& folder, std::string& why) {
  // No launcher for a copy that is not there.
  if (!Installer().CopyProgram(folder, why)) {
    m_pWizardInfo->SetInstallResult("Quillnet was not installed in " + folder + ": " + why + ".");
    return false;
  }
  if (!CreateLaunchers(folder, why)) {
    m_pWizardInfo->SetInstallResult("A copy of Quillnet was saved in " + folder + ", but " + why +
                                    ".");
    return false;
  }
  m_pWizardInfo->SaveInstalled(true, kProgramVersion);
  m_pWizardInfo->SetInstallResult("A copy of Quillnet was saved in " + folder + ".");
  return true;
}

bool CInstallPage::CreateLaunchers(const std::string& folder, std::string& why) {
  bool ok = true;
  // Each requested launcher is attempted, whatever became of the one before.
  if (Window().GetCheck(IDC_DESKTOP_SHORTCUT)) {
    ok = Installer().CreateLauncher(folder, LauncherPlace::kDesktop, why) && ok;
  }
  if (Window().GetCheck(IDC_START_MENU_SHORTCUT)) {
    ok = Installer().CreateLauncher(folder, LauncherPlace::kMenu, why) && ok;
  }
  return ok;
}

}  // namespace quillnet
