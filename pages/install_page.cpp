#include "pages/install_page.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstdint>
#include <vector>

#include "platform/package_owner.h"
#include "platform/program_copy.h"
#include "platform/user_folders.h"
#include "wizard/wait_cursor.h"

namespace quillnet {
namespace {

constexpr char kShortcutName[] = "Quillnet";
constexpr char kShortcutDescription[] = "Varnholt IP Addressing Tool";
constexpr char kShortcutCategories[] = "Network;";
// What earlier versions named every copy's launcher: the package's own desktop ID.
constexpr char kSharedShortcutFileName[] = "Quillnet.desktop";
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

// The launcher an earlier version wrote for a copy, word for word.
ShellLink SharedLauncher(const std::string& exePath, const std::string& iconPath) {
  return ShellLink{kShortcutName, kShortcutDescription, exePath, iconPath, kShortcutCategories};
}

}  // namespace

std::string CopyLauncherFileName(const std::string& folder) {
  // FNV-1a: the same on every run and every machine, unlike std::hash.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char byte : folder) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  }
  return "com.varnholt.quillnet.copy-" +
         QString::number(hash, 16).rightJustified(16, QLatin1Char('0')).toStdString() +
         ".desktop";
}

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
  const std::string folder = ReadInstallPath();
  if (folder.empty()) return -1;
  std::string refusal;
  {
    WaitCursor wait;
    refusal = PackageFileRefusal(folder);
  }
  if (!refusal.empty()) {
    // Nothing was written; the user picks another folder here.
    ShowBox("packageFileBox", QStringLiteral("Choose another folder"), PathText(refusal), true);
    m_pathEdit->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  bool installed = false;
  std::string why;
  {
    WaitCursor wait;
    installed = InstallProgram(folder, why);
  }
  if (!installed) {
    QString reason = PathText(why);
    if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
    ShowBox("installErrorBox", QStringLiteral("Error"),
            QStringLiteral("Can't create specified folder.\n\n") + reason, false);
  }
  // Back to the end page the user came from: only the Completion page says an address was
  // assigned. The page is selected here, so the sheet moves no further.
  const int failure = Sheet()->GetPageCount() - 2;
  const int origin = m_pWizardInfo->GetInstallOrigin();
  Sheet()->SetCurSel(origin == failure + 1 ? origin : failure);
  return -1;
}

void CInstallPage::ShowBox(const char* name, const QString& title, const QString& text,
                           bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                  QMessageBox::Ok, this);
  box.setObjectName(QString::fromLatin1(name));
  box.exec();
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

std::string CInstallPage::ReadInstallPath() {
  const QString text = m_pathEdit->text().trimmed();
  if (text.isEmpty()) {
    ShowBox("noPathBox", QStringLiteral("No path"),
            QStringLiteral("Please provide a location to find files."), true);
    m_pathEdit->setFocus(Qt::OtherFocusReason);
    return {};
  }
  std::string path = PathText(text);
  // Below the home folder, not the folder the program happened to be started in, which the
  // user cannot see.
  if (!path.starts_with('/') && path != "~" && !path.starts_with("~/")) path = "~/" + path;
  const std::string full = FullPathName(path);
  if (full.empty()) {
    ShowBox("noPathBox", QStringLiteral("No path"),
            QStringLiteral("There is no home folder to put \"%1\" in. Please provide a full "
                           "path, starting with /.").arg(text),
            true);
    m_pathEdit->setFocus(Qt::OtherFocusReason);
    return {};
  }
  // The field shows the folder that is used.
  m_pathEdit->setText(PathText(full));
  m_pWizardInfo->SetInstallPath(full);
  return full;
}

std::string CInstallPage::PackageFileRefusal(const std::string& folder) const {
  std::string query = m_pWizardInfo->GetPackageQueryProgram();
  if (query.empty()) query = kPackageQueryProgram;
  for (const char* name : {kInstalledProgramName, kIconFileName}) {
    const std::string file = JoinPath(folder, name);
    if (const std::string owner = OwningPackage(file, query); !owner.empty()) {
      return file + " belongs to the installed package " + owner + "; choose another folder.";
    }
  }
  return {};
}

bool CInstallPage::InstallProgram(const std::string& folder, std::string& why) {
  const bool copied = CopyProgram(folder, why);
  // No launcher for a copy that is not there.
  if (!copied) {
    m_pWizardInfo->SetInstallResult("Quillnet was not installed in " + folder + ": " + why + ".");
    return false;
  }
  if (!CreateShortcuts(folder, why)) {
    m_pWizardInfo->SetInstallResult("A copy of Quillnet was saved in " + folder + ", but " + why +
                                    ".");
    return false;
  }
  m_pWizardInfo->SaveInstalled(true, kProgramVersion);
  m_pWizardInfo->SetInstallResult("A copy of Quillnet was saved in " + folder + ".");
  return true;
}

bool CInstallPage::CopyProgram(const std::string& folder, std::string& why) {
  m_exePath = JoinPath(folder, kInstalledProgramName);
  m_iconPath = JoinPath(folder, kIconFileName);
  std::vector<std::string> created;
  if (!CreatePath(folder, &created, &why)) {
    RemoveCreatedFolders(created);
    return false;
  }
  std::string program = m_pWizardInfo->GetProgramFile();
  if (program.empty()) program = kRunningProgramFile;
  bool copied = CopyProgramFile(program, m_exePath, &why);
  if (copied) {
    // The launchers show the icon from beside the copy.
    QFile icon(QString::fromLatin1(kIconResource));
    if (!icon.open(QIODevice::ReadOnly)) {
      why = "the program's icon could not be read";
      copied = false;
    } else {
      copied = ReplaceFile(m_iconPath, icon.readAll().toStdString(), kIconMode, &why);
    }
  }
  if (!copied && !created.empty()) {
    // The folder is the install's own: what went into it goes too, and then the folders.
    QFile::remove(PathText(m_exePath));
    QFile::remove(PathText(m_iconPath));
    RemoveCreatedFolders(created);
  }
  return copied;
}

bool CInstallPage::CreateShortcuts(const std::string& folder, std::string& why) {
  bool ok = true;
  // Each requested launcher is attempted, whatever became of the one before.
  if (m_desktopCheck->isChecked()) {
    ok = CreateShortcut(folder, DesktopFolder(), true, why) && ok;
  }
  if (m_startMenuCheck->isChecked()) {
    ok = CreateShortcut(folder, JoinPath(DataFolder(), "applications"), false, why) && ok;
  }
  return ok;
}

bool CInstallPage::CreateShortcut(const std::string& folder, const std::string& launcherFolder,
                                  bool executable, std::string& why) {
  const std::string file = JoinPath(launcherFolder, CopyLauncherFileName(folder));
  // Two copies are told apart by their folder.
  const ShellLink link{kShortcutName, std::string(kShortcutDescription) + ", copy in " + folder,
                       m_exePath, m_iconPath, kShortcutCategories};
  if (file.empty() || !SaveShellLink(link, file, executable)) {
    why = "the launcher " + (file.empty() ? launcherFolder : file) + " could not be written";
    return false;
  }
  // This copy's launcher from an earlier version hides the package's menu entry; only one
  // that is word for word what was written for this copy goes.
  const QString shared = PathText(JoinPath(launcherFolder, kSharedShortcutFileName));
  QFile old(shared);
  if (old.open(QIODevice::ReadOnly) &&
      old.readAll().toStdString() == DesktopEntryText(SharedLauncher(m_exePath, m_iconPath))) {
    old.close();
    QFile::remove(shared);
  }
  return true;
}

}  // namespace quillnet
