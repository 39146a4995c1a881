// The Install page's logic in the real sheet, reached through the end pages' install check
// box, in the fake frame; the copy and its launchers are real files, in a home of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dialogs/dialog_ids.h"
#include "pages/install_page.h"
#include "platform/linux/program_copy.h"
#include "platform/linux/program_icon.h"
#include "platform/program_file.h"
#include "tests/pages/page_test_support.h"
#include "tests/platform/file_contents.h"
#include "tests/platform/scoped_environment.h"

namespace quillnet {
namespace {

namespace fs = std::filesystem;
using testing::FileMode;
using testing::ReadFile;

class InstallPageTest : public testing::WizardOnFakes {
 protected:
  InstallPageTest() : m_home(m_folder.Path() / "home"), m_work(m_folder.Path() / "work") {
    fs::create_directories(m_home);
    fs::create_directories(m_work);
    m_variables.Set("HOME", m_home.string());
    m_variables.Set("XDG_CONFIG_HOME", std::nullopt);
    m_variables.Set("XDG_DATA_HOME", std::nullopt);
  }

  // From the end page at `index`: tick the install box, Next.
  void ToInstallPage(int index) {
    if (m_sheet->GetCurrentIndex() != index) {
      ASSERT_TRUE(m_sheet->SetCurSel(index));
      Wizard().Run();
    }
    ASSERT_TRUE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
    if (!Wizard().Window().GetCheck(IDC_INSTALL_CHECK)) Wizard().Check(IDC_INSTALL_CHECK);
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(On("installPage"));
  }

  std::string PathText() const { return Wizard().WindowOf(4)->Text(IDC_INSTALL_PATH); }

  // Types the path over what the field shows, ticks the boxes asked for and presses Next.
  // Returns the message boxes the page showed.
  std::vector<testing::FakePageWindow::Box> Install(const std::string& path, bool desktop,
                                                    bool startMenu) {
    Wizard().Window().SetText(IDC_INSTALL_PATH, path);
    Wizard().Window().SetCheck(IDC_DESKTOP_SHORTCUT, desktop);
    Wizard().Window().SetCheck(IDC_START_MENU_SHORTCUT, startMenu);
    Wizard().boxes.clear();
    EXPECT_TRUE(Wizard().Next());
    return Wizard().boxes;
  }

  // The texts on the end page shown: its title and its summary.
  std::string EndPageTitle() const { return Wizard().Window().Text(IDC_TITLE); }
  std::string Summary() const { return Wizard().Window().Text(IDC_SUMMARY); }

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
  ASSERT_TRUE(m_sheet->SetCurSel(6));
  ToInstallPage(6);
  EXPECT_EQ(Wizard().HeaderTitle(), "Path and Filter to Find Files");
  EXPECT_EQ(PathText(), "/opt/Varnholt/Tools");
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_NEXT);
  EXPECT_FALSE(Wizard().Window().GetCheck(IDC_DESKTOP_SHORTCUT));
  EXPECT_FALSE(Wizard().Window().GetCheck(IDC_START_MENU_SHORTCUT));

  // The chooser opens at the field's folder, or the nearest one above it that exists.
  fs::create_directories(m_work / "chosen");
  Wizard().Window().SetText(IDC_INSTALL_PATH, (m_work / "not/yet").string());
  Wizard().folderAnswer = (m_work / "chosen").string();
  Wizard().Click(IDC_BROWSE_FOLDER);
  ASSERT_EQ(Wizard().folderStarts.size(), 1u);
  EXPECT_EQ(Wizard().folderStarts[0], m_work.string());
  EXPECT_EQ(PathText(), (m_work / "chosen").string());
  // A chooser cancelled leaves the field as it was.
  Wizard().folderAnswer.reset();
  Wizard().Click(IDC_BROWSE_FOLDER);
  EXPECT_EQ(PathText(), (m_work / "chosen").string());

  // Back leads to the Listen page; the field keeps its text for the next visit.
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  ToInstallPage(6);
  EXPECT_EQ(PathText(), (m_work / "chosen").string());

  // Folders below an existing one, blanks around the path, both launchers.
  EXPECT_TRUE(Install("  " + folder.string() + " \t", true, true).empty()) << "no message box";
  ASSERT_TRUE(On("completionPage"));
  EXPECT_EQ(m_info->GetInstallPath(), folder.string());

  EXPECT_EQ(ReadFile(copy), ReadFile(capableSource ? source : fs::path("/proc/self/exe")));
  EXPECT_EQ(FileMode(copy), 0755u);
  EXPECT_FALSE(HasPortCapability(copy));
  EXPECT_FALSE(FileHasRawCapability(copy));
  EXPECT_EQ(ReadFile(folder / "quillnet.png"), std::string(ProgramIconPng()));
  EXPECT_EQ(ReadFile(folder / "quillnet.png"), ReadFile(QUILLNET_SOURCE_DIR "/res/icons/quillnet.png"));

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
  EXPECT_TRUE(Summary().ends_with("\r\nA copy of Quillnet was saved in " + folder.string() + ".\r\n"))
      << Summary();
  EXPECT_EQ(Summary().find("setcap"), std::string::npos);
  EXPECT_FALSE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);
  ASSERT_TRUE(m_sheet->SetCurSel(5));
  EXPECT_FALSE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
}

// Cancelled on the Welcome page, nothing was assigned: the install from the Failure page
// returns there, with the reason it showed and what the install came to. A relative path is
// taken below the home folder.
TEST_F(InstallPageTest, AfterACancelTheInstallReturnsToTheFailurePage) {
  Show();
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  ToInstallPage(5);
  EXPECT_TRUE(Install("tools/quillnet", false, true).empty()) << "no message box";

  const fs::path folder = m_home / "tools/quillnet";
  EXPECT_TRUE(fs::is_regular_file(folder / "quillnet"));
  EXPECT_EQ(PathText(), folder.string());
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(EndPageTitle(), "Cancelled");
  EXPECT_EQ(Summary(), "WARNING:\r\nCancelled from Welcome Page.\r\n\r\n\r\nA copy of Quillnet was saved in " +
                           folder.string() + ".\r\n");
  EXPECT_TRUE(m_info->IsInstalled());
  // What the install came to was told; a later Failure page tells only of its own run.
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\r\nYou have not selected a device for IP assignment.\r\n\r\n");
}

// Install ticked on the Completion page, then Esc on the Install page: the Failure page says
// that nothing was saved and what is true of the assignment, never an older page's text; and
// the hint below the box names the button that is there.
TEST_F(InstallPageTest, ACancelledInstallSaysSoWithTheAssignmentsVerdict) {
  Show();
  m_info->SetAssignmentResult("Confirmed: the device answers at 192.168.0.20.", "");
  ASSERT_TRUE(m_sheet->SetCurSel(6));
  Wizard().Run();
  m_info->SetStatusMessage("A page's text from before the Completion page.");
  const auto hint = [&] { return Wizard().Window().Text(IDC_FINISH_HINT); };
  EXPECT_EQ(hint(), "Click Finish to exit, or click Back to assign another IP address.");
  Wizard().Check(IDC_INSTALL_CHECK);
  EXPECT_EQ(hint(), "Click Next to save a copy of Quillnet, or click Back to assign another IP address.");
  Wizard().Check(IDC_INSTALL_CHECK);
  EXPECT_EQ(hint(), "Click Finish to exit, or click Back to assign another IP address.");
  ToInstallPage(6);
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\r\nYou cancelled saving a copy of Quillnet; nothing was saved. The IP "
                       "assignment was not affected.\r\nConfirmed: the device answers at "
                       "192.168.0.20.\r\n\r\n");
  EXPECT_EQ(hint(), "Click Finish to exit, or click Back to start over.");

  // Tried again from there and refused: the cancel is old news, the assignment's verdict and
  // what the try came to are not.
  std::ofstream(m_work / "afile") << "not a folder";
  ToInstallPage(5);
  Install((m_work / "afile" / "below").string(), false, false);
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary().find("You cancelled"), std::string::npos) << Summary();
  EXPECT_NE(Summary().find("Confirmed: the device answers at 192.168.0.20."), std::string::npos)
      << Summary();
  EXPECT_NE(Summary().find("Quillnet was not installed in "), std::string::npos) << Summary();
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
    const char* boxTitle;
    std::string boxText;
    std::string result;  // the install's line on the Failure page; "" when it stays
    bool copied;
    fs::path gone;       // what the failed install left no trace of
  };
  const std::string work = m_work.string();
  const Case cases[] = {
      {"blank path", "   ", false, "No path", "Please provide a location to find files.", "",
       false, {}},
      {"package owns the copy's file", work + "/owned", false, "Choose another folder",
       work + "/owned/quillnet belongs to the installed package quillnet; choose another folder.",
       "", false, m_work / "owned"},
      {"package owns the icon's file", work + "/icon-owned", false, "Choose another folder",
       work + "/icon-owned/quillnet.png belongs to the installed package quillnet; choose "
              "another folder.",
       "", false, m_work / "icon-owned"},
      {"folder cannot be made", work + "/afile/sub", false, "Error",
       "Can't create specified folder.\n\nNot a directory",
       "Quillnet was not installed in " + work + "/afile/sub: Not a directory.", false, {}},
      {"copy fails", work + "/taken", false, "Error",
       "Can't create specified folder.\n\nIs a directory",
       "Quillnet was not installed in " + work + "/taken: Is a directory.", false, {}},
      {"copy fails in folders it made", deep.string(), false, "Error",
       "Can't create specified folder.\n\nFile name too long",
       "Quillnet was not installed in " + deep.string() + ": File name too long.", false,
       m_work / "long"},
      {"desktop launcher fails", work + "/tools", true, "Error",
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
    Wizard().Escape();
    ToInstallPage(5);
    const auto shown = Install(each.path, true, true);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, each.boxTitle);
    EXPECT_EQ(shown[0].text, each.boxText);
    if (each.result.empty()) {
      // Nothing was tried: the user corrects the path here.
      EXPECT_EQ(shown[0].icon, BoxIcon::kWarning);
      EXPECT_TRUE(On("installPage"));
      EXPECT_EQ(Wizard().Window().focus, IDC_INSTALL_PATH);
    } else {
      EXPECT_EQ(shown[0].icon, BoxIcon::kNone);
      ASSERT_TRUE(On("failurePage"));
      EXPECT_EQ(Summary(), "WARNING:\r\nCancelled from Welcome Page.\r\n\r\n\r\n" + each.result + "\r\n");
      // Not installed, so the box is still offered, ticked, for another try.
      EXPECT_TRUE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
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
