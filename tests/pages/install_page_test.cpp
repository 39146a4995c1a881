// The Install page in the real sheet, reached through the end pages' install check box and
// driven through its widgets, with the user's folders in a temporary home.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTextEdit>
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
    ASSERT_TRUE(m_sheet->SetCurSel(index));
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
  const fs::path folder = m_work / "new/deeper";
  EXPECT_TRUE(Install("  " + folder.string() + " \t", true, true).empty()) << "no message box";
  ASSERT_TRUE(On("completionPage"));
  EXPECT_EQ(m_info->GetInstallPath(), folder.string());

  const fs::path copy = folder / "quillnet";
  EXPECT_EQ(ReadFile(copy), ReadFile("/proc/self/exe"));
  EXPECT_EQ(FileMode(copy), 0755u);
  QFile icon(":/icons/134.png");
  ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
  EXPECT_EQ(ReadFile(folder / "quillnet.png"), icon.readAll().toStdString());
  const std::string launcher = "[Desktop Entry]\nType=Application\nName=Quillnet\n"
                               "Comment=Varnholt IP Addressing Tool\nExec=" + copy.string() +
                               "\nIcon=" + (folder / "quillnet.png").string() +
                               "\nCategories=Network;\n";
  EXPECT_EQ(ReadFile(m_home / "Desktop/Quillnet.desktop"), launcher);
  EXPECT_EQ(FileMode(m_home / "Desktop/Quillnet.desktop"), 0755u);
  EXPECT_EQ(ReadFile(m_home / ".local/share/applications/Quillnet.desktop"), launcher);
  EXPECT_EQ(FileMode(m_home / ".local/share/applications/Quillnet.desktop"), 0644u);

  EXPECT_TRUE(m_info->IsInstalled());
  EXPECT_TRUE(InstalledInTheSettings());
  // The copy may listen on port 67 and send ARP probes when this program may; else the page
  // says how to let it.
  const bool portCapable = HasPortCapability(kRunningProgramFile);
  const bool rawCapable = FileHasRawCapability(kRunningProgramFile);
  EXPECT_EQ(HasPortCapability(copy), portCapable);
  EXPECT_EQ(FileHasRawCapability(copy), rawCapable);
  const QString command = QString::fromStdString(CapabilityCommand(copy.string()) + "\n");
  const QString summary = OnPage<QTextEdit>("summaryEdit")->toPlainText();
  EXPECT_EQ(summary.endsWith(". To grant them, run:\n" + command), !portCapable && !rawCapable);
  EXPECT_EQ(summary.contains("may not listen on BOOTP port 67"), !portCapable);
  EXPECT_EQ(summary.contains("send the ARP probes"), !rawCapable);
  EXPECT_FALSE(OnPage<QCheckBox>("installCheck")->isVisible());
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  ASSERT_TRUE(m_sheet->SetCurSel(5));
  EXPECT_FALSE(OnPage<QCheckBox>("installCheck")->isVisible());

  // Granted meanwhile (this needs root), the next visit no longer asks for it.
  if (std::system(("setcap cap_net_bind_service,cap_net_raw=+ep '" + copy.string() +
                   "' 2>/dev/null").c_str()) == 0) {
    ASSERT_TRUE(m_sheet->SetCurSel(6));
    EXPECT_FALSE(OnPage<QTextEdit>("summaryEdit")->toPlainText().contains("To grant"));
  }
}

TEST_F(InstallPageTest, EveryFailureIsReportedAndNothingIsRecorded) {
  std::ofstream(m_work / "afile") << "not a folder";
  fs::create_directories(m_work / "taken/quillnet/inside");
  fs::create_directories(m_folder.Path() / "config");
  // The desktop folder is a file: that launcher fails, the menu's is still made.
  std::ofstream(m_folder.Path() / "config/user-dirs.dirs")
      << "XDG_DESKTOP_DIR=\"" << (m_work / "afile").string() << "\"\n";

  struct Case {
    const char* what;
    std::string path;
    bool userDirs;
    const char* box;
    const char* status;  // after the page
    bool copied;
  };
  const Case cases[] = {
      {"blank path", "   ", false, "noPathBox", "From Finish Page", false},
      {"folder cannot be made", (m_work / "afile/sub").string(), false, "installErrorBox",
       "Path could not be created", false},
      {"copy fails", (m_work / "taken").string(), false, "installErrorBox", "From Finish Page", false},
      {"desktop launcher fails", (m_work / "tools").string(), true, "installErrorBox",
       "From Finish Page", true},
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
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok);
    if (std::string(each.box) == "noPathBox") {
      EXPECT_EQ(shown[0].title, "No path");
      EXPECT_EQ(shown[0].text, "Please provide a location to find files.");
      EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
      EXPECT_TRUE(On("installPage"));
      EXPECT_EQ(m_sheet->focusWidget(), PathEdit());
      EXPECT_EQ(m_info->GetInstallPath(), "");
    } else {
      EXPECT_EQ(shown[0].title, "Error");
      EXPECT_EQ(shown[0].text, "Can't create specified folder.");
      EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
      EXPECT_TRUE(On("completionPage"));
      // Not installed, so the box is still offered, ticked, for another try.
      EXPECT_TRUE(OnPage<QCheckBox>("installCheck")->isVisible());
    }
    EXPECT_EQ(m_info->GetStatusMessage(), each.status);
    EXPECT_EQ(fs::is_regular_file(fs::path(each.path) / "quillnet"), each.copied);
    EXPECT_EQ(fs::exists(m_home / ".local/share/applications/Quillnet.desktop"), each.copied);
    EXPECT_FALSE(m_info->IsInstalled());
    EXPECT_FALSE(InstalledInTheSettings());
  }
}

}  // namespace
}  // namespace quillnet
