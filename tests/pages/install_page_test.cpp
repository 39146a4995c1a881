// The Install page in the real sheet, reached through the end pages' install check box and
// driven through its widgets, with the user's folders in a temporary home.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTextEdit>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pages/install_page.h"
#include "pages/interior_pages.h"
#include "platform/program_copy.h"
#include "platform/program_file.h"
#include "tests/pages/page_driver.h"
#include "tests/platform/file_contents.h"
#include "tests/platform/scoped_environment.h"
#include "tests/wizard/wizard_test_support.h"

namespace quillnet {
namespace {

namespace fs = std::filesystem;
using testing::FileMode;
using testing::Find;
using testing::ModalAnswerer;
using testing::ReadFile;
using testing::WaitFor;

class InstallPageTest : public testing::WizardOnFakes {
 protected:
  InstallPageTest() : m_home(m_folder.Path() / "home"), m_work(m_folder.Path() / "work") {
    fs::create_directories(m_home);
    fs::create_directories(m_work);
    m_variables.Set("HOME", m_home.string());
    m_variables.Set("XDG_CONFIG_HOME", std::nullopt);
    m_variables.Set("XDG_DATA_HOME", std::nullopt);
  }
  ~InstallPageTest() override {
    m_sheet.reset();
    m_info.reset();
  }

  void Show() {
    m_sheet.reset();
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    m_sheet = std::make_unique<CBootpWizardSheet>(m_info.get(), 0, nullptr, MakeInteriorPages);
    ASSERT_TRUE(m_sheet->ShowModeless());
  }

  testing::PageDriver Driver() const { return testing::PageDriver(*m_sheet); }
  bool On(const char* page) const { return Driver().On(page); }
  CWizard97PageImpl* Current() const { return m_sheet->GetPage(m_sheet->GetCurrentIndex()); }
  template <typename T>
  T* OnPage(const char* name) const {
    return Current()->findChild<T*>(QString::fromLatin1(name));
  }

  // From the end page at `index`: tick the install box, Next.
  void ToInstallPage(int index) {
    if (m_sheet->GetCurrentIndex() != index) {
      ASSERT_TRUE(m_sheet->SetCurSel(index));
    }
    auto* box = OnPage<QCheckBox>("installCheck");
    ASSERT_TRUE(box->isVisible());
    if (!box->isChecked()) QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(Driver().Click("nextButton"));
    ASSERT_TRUE(On("installPage"));
  }

  QLineEdit* PathEdit() const { return Driver().Find<QLineEdit>("installPathEdit"); }

  // Types the path over what the field shows, ticks the boxes asked for and presses Next,
  // answering whatever box the page opens. Returns what the page showed.
  std::vector<ModalAnswerer::Shown> Install(const std::string& path, bool desktop, bool startMenu) {
    QLineEdit* edit = PathEdit();
    m_sheet->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_sheet.get()));
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QString::fromStdString(path));
    for (auto [name, wanted] : {std::pair{"desktopShortcutCheck", desktop},
                                std::pair{"startMenuShortcutCheck", startMenu}}) {
      auto* box = Driver().Find<QCheckBox>(name);
      if (box->isChecked() != wanted) QTest::mouseClick(box, Qt::LeftButton);
    }
    const ModalAnswerer answerer;
    EXPECT_TRUE(Driver().Click("nextButton"));
    return answerer.shown();
  }

  // The texts on the end page shown: its title and its summary.
  std::string EndPageTitle() const { return OnPage<QLabel>("titleText")->text().toStdString(); }
  std::string Summary() const { return OnPage<QTextEdit>("summaryEdit")->toPlainText().toStdString(); }

  static std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::is_directory(folder)) {
      for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  bool InstalledInTheSettings() const {
    CBootpWizardInfo fresh(m_environment);
    fresh.LoadSettings();
    return fresh.IsInstalled();
  }

  // The user's folders: below a home of the test's own.
  testing::ScopedEnvironment m_variables;
  const fs::path m_home;
  const fs::path m_work;
  std::unique_ptr<CBootpWizardSheet> m_sheet;
};

TEST_F(InstallPageTest, InstallsFromTheCompletionPageAndThenStopsOfferingIt) {
  // The copy is made of a program holding both capabilities, where this process may give them
  // (root): the copy must hold neither.
  const fs::path source = m_work / "source-program";
  fs::copy_file("/proc/self/exe", source);
  const bool capableSource =
      std::system(("setcap cap_net_bind_service,cap_net_raw=+ep '" + source.string() +
                   "' 2>/dev/null").c_str()) == 0;
  if (capableSource) m_environment.programFile = source.string();
  const fs::path folder = m_work / "new/deeper";
  const fs::path copy = folder / "quillnet";
  const fs::path menu = m_home / ".local/share/applications";
  // What an earlier version wrote for a copy in this folder hides the package's menu entry and
  // goes; the desktop's Quillnet.desktop is someone else's and stays.
  fs::create_directories(menu);
  fs::create_directories(m_home / "Desktop");
  const std::string oldLauncher = "[Desktop Entry]\nType=Application\nName=Quillnet\n"
                                  "Comment=Varnholt IP Addressing Tool\nExec=" + copy.string() +
                                  "\nIcon=" + (folder / "quillnet.png").string() +
                                  "\nCategories=Network;\n";
  std::ofstream(menu / "Quillnet.desktop") << oldLauncher;
  std::ofstream(m_home / "Desktop/Quillnet.desktop") << "[Desktop Entry]\nExec=/usr/bin/quillnet\n";

  Show();
  ToInstallPage(6);
  EXPECT_EQ(Find<QLabel>(m_sheet.get(), "headerTitle")->text(), "Path and Filter to Find Files");
  EXPECT_EQ(PathEdit()->text(), "/opt/Varnholt/Tools");
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
  EXPECT_FALSE(Driver().Find<QCheckBox>("desktopShortcutCheck")->isChecked());
  EXPECT_FALSE(Driver().Find<QCheckBox>("startMenuShortcutCheck")->isChecked());

  // The chooser opens at the field's folder, or the nearest one above it that exists.
  fs::create_directories(m_work / "chosen");
  PathEdit()->setText(QString::fromStdString((m_work / "not/yet").string()));
  {
    QString openedAt;
    const ModalAnswerer chooser([&](QWidget* window) {
      auto* dialog = qobject_cast<QFileDialog*>(window);
      openedAt = dialog->directory().absolutePath();
      dialog->setDirectory(QString::fromStdString((m_work / "chosen").string()));
      static_cast<QDialog*>(dialog)->accept();  // as the Choose button does
    });
    QTest::mouseClick(Driver().Find<QPushButton>("browseFolderButton"), Qt::LeftButton);
    ASSERT_EQ(chooser.shown().size(), 1u);
    EXPECT_EQ(chooser.shown()[0].title, "Root directory:");
    EXPECT_EQ(openedAt.toStdString(), m_work.string());
    EXPECT_EQ(PathEdit()->text().toStdString(), (m_work / "chosen").string());
  }

  // Back leads to the Listen page; the field keeps its text for the next visit.
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("listenPage"));
  ToInstallPage(6);
  EXPECT_EQ(PathEdit()->text().toStdString(), (m_work / "chosen").string());

  // Folders below an existing one, blanks around the path, both launchers.
  EXPECT_TRUE(Install("  " + folder.string() + " \t", true, true).empty()) << "no message box";
  ASSERT_TRUE(On("completionPage"));
  EXPECT_EQ(m_info->GetInstallPath(), folder.string());

  EXPECT_EQ(ReadFile(copy), ReadFile(capableSource ? source : fs::path("/proc/self/exe")));
  EXPECT_EQ(FileMode(copy), 0755u);
  EXPECT_FALSE(HasPortCapability(copy));
  EXPECT_FALSE(FileHasRawCapability(copy));
  QFile icon(":/icons/134.png");
  ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
  EXPECT_EQ(ReadFile(folder / "quillnet.png"), icon.readAll().toStdString());

  // The copy's launchers have a desktop ID of their own, never the package's.
  const std::string id = CopyLauncherFileName(folder.string());
  EXPECT_TRUE(id.starts_with("com.varnholt.quillnet.copy-") && id.ends_with(".desktop")) << id;
  EXPECT_NE(id, CopyLauncherFileName((m_work / "other").string()));
  const std::string launcher = "[Desktop Entry]\nType=Application\nName=Quillnet\n"
                               "Comment=Varnholt IP Addressing Tool, copy in " + folder.string() +
                               "\nExec=" + copy.string() +
                               "\nIcon=" + (folder / "quillnet.png").string() +
                               "\nCategories=Network;\n";
  EXPECT_EQ(FileNames(menu), std::vector<std::string>{id});
  EXPECT_EQ(ReadFile(menu / id), launcher);
  EXPECT_EQ(FileMode(menu / id), 0644u);
  EXPECT_EQ(FileNames(m_home / "Desktop"), (std::vector<std::string>{"Quillnet.desktop", id}));
  EXPECT_EQ(ReadFile(m_home / "Desktop" / id), launcher);
  EXPECT_EQ(FileMode(m_home / "Desktop" / id), 0755u);

  EXPECT_TRUE(m_info->IsInstalled());
  EXPECT_TRUE(InstalledInTheSettings());
  EXPECT_EQ(EndPageTitle(), "Congratulations");
  EXPECT_TRUE(Summary().ends_with("\nA copy of Quillnet was saved in " + folder.string() + ".\n"))
      << Summary();
  EXPECT_EQ(Summary().find("setcap"), std::string::npos);
  EXPECT_FALSE(OnPage<QCheckBox>("installCheck")->isVisible());
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  ASSERT_TRUE(m_sheet->SetCurSel(5));
  EXPECT_FALSE(OnPage<QCheckBox>("installCheck")->isVisible());
}

// Cancelled on the Welcome page, nothing was assigned: the install from the Failure page
// returns there, with the reason it showed and what the install came to. A relative path is
// taken below the home folder.
TEST_F(InstallPageTest, AfterACancelTheInstallReturnsToTheFailurePage) {
  Show();
  m_sheet->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(m_sheet.get()));
  QTest::keyClick(m_sheet.get(), Qt::Key_Escape);
  ASSERT_TRUE(On("failurePage"));
  ToInstallPage(5);
  EXPECT_TRUE(Install("tools/quillnet", false, true).empty()) << "no message box";

  const fs::path folder = m_home / "tools/quillnet";
  EXPECT_TRUE(fs::is_regular_file(folder / "quillnet"));
  EXPECT_EQ(PathEdit()->text().toStdString(), folder.string());
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(EndPageTitle(), "Cancelled");
  EXPECT_EQ(Summary(), "WARNING:\nCancelled from Welcome Page.\n\n\nA copy of Quillnet was saved in " +
                           folder.string() + ".\n");
  EXPECT_TRUE(m_info->IsInstalled());
}

TEST_F(InstallPageTest, EveryFailureIsReportedAndNothingIsRecorded) {
  std::ofstream(m_work / "afile") << "not a folder";
  fs::create_directories(m_work / "taken/quillnet/inside");
  fs::create_directories(m_folder.Path() / "config");
  // The desktop folder is a file: that launcher fails, the menu's is still made.
  std::ofstream(m_folder.Path() / "config/user-dirs.dirs")
      << "XDG_DESKTOP_DIR=\"" << (m_work / "afile").string() << "\"\n";
  // dpkg-query as it answers for files of an installed package, and for others.
  const fs::path query = m_work / "dpkg-query";
  std::ofstream(query) << "#!/bin/sh\ncase \"$2\" in */owned/quillnet|*/icon-owned/quillnet.png)\n"
                          "  echo \"quillnet: $2\"; exit 0;;\nesac\nexit 1\n";
  fs::permissions(query, fs::perms(0755));
  m_environment.packageQuery = query.string();
  // Too long for the copy's temporary name beside it, not for the folders: the copy fails in
  // folders the install made.
  fs::path deep = m_work / "long";
  while (deep.string().size() < 4085 - 201) deep /= std::string(200, 'd');
  deep /= std::string(4085 - deep.string().size() - 1, 'e');

  struct Case {
    const char* what;
    std::string path;
    bool userDirs;
    const char* box;
    std::string boxText;
    std::string result;  // the install's line on the Failure page; "" when it stays
    bool copied;
    fs::path gone;       // what the failed install left no trace of
  };
  const std::string work = m_work.string();
  const Case cases[] = {
      {"blank path", "   ", false, "noPathBox", "Please provide a location to find files.", "",
       false, {}},
      {"package owns the copy's file", work + "/owned", false, "packageFileBox",
       work + "/owned/quillnet belongs to the installed package quillnet; choose another folder.",
       "", false, m_work / "owned"},
      {"package owns the icon's file", work + "/icon-owned", false, "packageFileBox",
       work + "/icon-owned/quillnet.png belongs to the installed package quillnet; choose "
              "another folder.",
       "", false, m_work / "icon-owned"},
      {"folder cannot be made", work + "/afile/sub", false, "installErrorBox",
       "Can't create specified folder.\n\nNot a directory",
       "Quillnet was not installed in " + work + "/afile/sub: Not a directory.", false, {}},
      {"copy fails", work + "/taken", false, "installErrorBox",
       "Can't create specified folder.\n\nIs a directory",
       "Quillnet was not installed in " + work + "/taken: Is a directory.", false, {}},
      {"copy fails in folders it made", deep.string(), false, "installErrorBox",
       "Can't create specified folder.\n\nFile name too long",
       "Quillnet was not installed in " + deep.string() + ": File name too long.", false,
       m_work / "long"},
      {"desktop launcher fails", work + "/tools", true, "installErrorBox",
       "Can't create specified folder.\n\nThe launcher " + work + "/afile/" +
           CopyLauncherFileName(work + "/tools") + " could not be written",
       "A copy of Quillnet was saved in " + work + "/tools, but the launcher " + work + "/afile/" +
           CopyLauncherFileName(work + "/tools") + " could not be written.",
       true, {}},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    fs::remove_all(m_home / ".local");
    m_variables.Set("XDG_CONFIG_HOME",
                      each.userDirs ? std::optional((m_folder.Path() / "config").string()) : std::nullopt);
    Show();
    ToInstallPage(5);
    const auto shown = Install(each.path, true, true);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].name.toStdString(), each.box);
    EXPECT_EQ(shown[0].text.toStdString(), each.boxText);
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok);
    if (each.result.empty()) {
      // Nothing was tried: the user corrects the path here.
      EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
      EXPECT_TRUE(On("installPage"));
      EXPECT_EQ(m_sheet->focusWidget(), PathEdit());
    } else {
      EXPECT_EQ(shown[0].title, "Error");
      EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
      ASSERT_TRUE(On("failurePage"));
      EXPECT_EQ(Summary(), "WARNING:\nCancelled from Welcome Page.\n\n\n" + each.result + "\n");
      // Not installed, so the box is still offered, ticked, for another try.
      EXPECT_TRUE(OnPage<QCheckBox>("installCheck")->isVisible());
    }
    if (!each.gone.empty()) {
      EXPECT_FALSE(fs::exists(each.gone));
    }
    EXPECT_EQ(fs::is_regular_file(fs::path(each.path) / "quillnet"), each.copied);
    EXPECT_EQ(fs::exists(m_home / ".local/share/applications" /
                         CopyLauncherFileName(each.path)),
              each.copied);
    EXPECT_FALSE(m_info->IsInstalled());
    EXPECT_FALSE(InstalledInTheSettings());
  }
  EXPECT_TRUE(fs::is_directory(m_work / "taken/quillnet/inside"));
}

}  // namespace
}  // namespace quillnet
