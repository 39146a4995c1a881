#include "pages/install_page.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "platform/program_copy.h"
#include "platform/user_folders.h"
#include "wizard/exterior_pages.h"
#include "wizard/wait_cursor.h"

namespace quillnet {
namespace {

constexpr char kShortcutName[] = "Quillnet";
constexpr char kShortcutDescription[] = "Varnholt IP Addressing Tool";
constexpr char kShortcutCategories[] = "Network;";
constexpr char kIconResource[] = ":/icons/134.png";
constexpr char kIconFileName[] = "quillnet.png";
constexpr unsigned kIconMode = 0644;

// Paths are kept in the file system's own encoding, whatever the characters.
std::string PathText(const QString& text) { return QFile::encodeName(text).toStdString(); }
QString PathText(const std::string& path) { return QFile::decodeName(path.c_str()); }

// The folder the chooser opens at: the path field's, or the nearest folder above it that
// exists, since the default folder is made only by the install.
QString ChooserStartFolder(const QString& text) {
  QString folder = PathText(FullPathName(PathText(text.trimmed())));
  while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
    const QString parent = QFileInfo(folder).path();
    if (parent == folder) break;
    folder = parent;
  }
  return folder;
}

}  // namespace

CInstallPage::CInstallPage()
    : CWizard97InteriorPageImpl(kInstallPageId, QString::fromLatin1(kWizardPageTitle)) {
  setObjectName(QStringLiteral("installPage"));
  SetHeaderTitle(QStringLiteral("Path and Filter to Find Files"));
  SetHeaderSubTitle(QStringLiteral("Select the path and filter identifying a list of files."));
}

bool CInstallPage::OnInitDialog() {
  m_pathEdit = static_cast<QLineEdit*>(Control(IDC_INSTALL_PATH));
  m_startMenuCheck = static_cast<QCheckBox*>(Control(IDC_START_MENU_SHORTCUT));
  m_desktopCheck = static_cast<QCheckBox*>(Control(IDC_DESKTOP_SHORTCUT));
  const std::string path = m_pWizardInfo->GetInstallPath();
  m_pathEdit->setText(path.empty() ? QString::fromLatin1(kDefaultInstallFolder) : PathText(path));
  connect(static_cast<QPushButton*>(Control(IDC_BROWSE_FOLDER)), &QPushButton::clicked, this,
          [this] { BrowseInstallFolder(); });
  return true;
}

int CInstallPage::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return 0;
}

int CInstallPage::OnWizardBack() { return kListenPageId; }

int CInstallPage::OnWizardNext() {
  if (!ReadInstallPath()) return -1;
  bool installed = false;
  {
    WaitCursor wait;
    installed = InstallProgram();
  }
  if (!installed) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                    QStringLiteral("Can't create specified folder."), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("installErrorBox"));
    box.exec();
  }
  // The Completion page, whatever the outcome; it is selected here, so the sheet moves no
  // further.
  Sheet()->SetCurSel(Sheet()->GetPageCount() - 1);
  return -1;
}

void CInstallPage::BrowseInstallFolder() {
  QFileDialog chooser(this, QStringLiteral("Root directory:"));
  chooser.setObjectName(QStringLiteral("installFolderChooser"));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOption(QFileDialog::ShowDirsOnly);
  const QString start = ChooserStartFolder(m_pathEdit->text());
  if (!start.isEmpty()) chooser.setDirectory(start);
  if (chooser.exec() != QDialog::Accepted) return;
  const QStringList chosen = chooser.selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty()) m_pathEdit->setText(chosen.first());
}

bool CInstallPage::ReadInstallPath() {
  const QString path = m_pathEdit->text().trimmed();
  if (path.isEmpty()) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("No path"),
                    QStringLiteral("Please provide a location to find files."), QMessageBox::Ok,
                    this);
    box.setObjectName(QStringLiteral("noPathBox"));
    box.exec();
    m_pathEdit->setFocus(Qt::OtherFocusReason);
    return false;
  }
  m_pWizardInfo->SetInstallPath(PathText(path));
  return true;
}

bool CInstallPage::InstallProgram() {
  const bool copied = CopyProgram();
  ReportInstalledCopy(copied);
  // No launcher for a copy that is not there.
  if (!copied || !CreateShortcuts()) return false;
  m_pWizardInfo->SaveInstalled(true, kProgramVersion);
  return true;
}

bool CInstallPage::CopyProgram() {
  const std::string folder = FullPathName(m_pWizardInfo->GetInstallPath());
  if (!CreatePath(folder)) {
    m_pWizardInfo->SetStatusMessage("Path could not be created");
    return false;
  }
  m_exePath = JoinPath(folder, kInstalledProgramName);
  m_iconPath = JoinPath(folder, kIconFileName);
  if (!CopyProgramFile(kRunningProgramFile, m_exePath)) return false;
  // The launchers show the icon from beside the copy.
  QFile icon(QString::fromLatin1(kIconResource));
  return icon.open(QIODevice::ReadOnly) &&
         ReplaceFile(m_iconPath, icon.readAll().toStdString(), kIconMode);
}

bool CInstallPage::CreateShortcuts() {
  bool ok = true;
  // Each requested launcher is attempted, whatever became of the one before.
  if (m_desktopCheck->isChecked()) {
    ok = CreateShortcut(m_exePath, kShortcutDescription,
                        JoinPath(DesktopFolder(), kShortcutFileName), true) && ok;
  }
  if (m_startMenuCheck->isChecked()) {
    ok = CreateShortcut(m_exePath, kShortcutDescription,
                        JoinPath(JoinPath(DataFolder(), "applications"), kShortcutFileName),
                        false) && ok;
  }
  return ok;
}

bool CInstallPage::CreateShortcut(const std::string& target, const std::string& description,
                                  const std::string& linkFile, bool executable) {
  const std::string fullTarget = FullPathName(target);
  if (fullTarget.empty() || linkFile.empty()) return false;
  const ShellLink link{kShortcutName, description, fullTarget, m_iconPath, kShortcutCategories};
  return SaveShellLink(link, linkFile, executable);
}

void CInstallPage::ReportInstalledCopy(bool copied) {
  auto* completion =
      dynamic_cast<CBootpWizardCompletionPage*>(Sheet()->GetPage(Sheet()->GetPageCount() - 1));
  if (completion != nullptr) completion->SetInstalledCopy(copied ? m_exePath : std::string());
}

}  // namespace quillnet
