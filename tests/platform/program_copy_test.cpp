// The install's file work: folders, the program's copy without capabilities, the launchers and
// the user's folders they go to.
#include "platform/linux/program_copy.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/user_folders.h"
#include "tests/app/temporary_folder.h"
#include "tests/platform/file_contents.h"
#include "tests/platform/scoped_environment.h"

namespace quillnet {
namespace {

namespace fs = std::filesystem;
using testing::FileMode;
using testing::ReadFile;
using testing::ScopedEnvironment;
using testing::TemporaryFolder;

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string PasswdHome() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr ? entry->pw_dir : "";
}

// Every name in `folder`, sorted, so that a temporary file left behind shows.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : m_old(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(m_old); }

 private:
  fs::path m_old;
};

TEST(UserFolders, DesktopFolderFollowsUserDirsAndDataFolderItsVariable) {
  TemporaryFolder folder;
  const std::string home = folder.File("home");
  const std::string config = folder.File("config");
  fs::create_directories(config);
  ScopedEnvironment environment;
  environment.Set("HOME", home);
  environment.Set("XDG_CONFIG_HOME", config);

  struct Case {
    const char* dirs;  // user-dirs.dirs; nullptr: no file
    std::string desktop;
  };
  const Case cases[] = {
      {nullptr, home + "/Desktop"},
      {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", home + "/Schreibtisch"},
      {"  XDG_DESKTOP_DIR = \"/srv/desk\"\n", "/srv/desk"},
      {"XDG_DESKTOP_DIR=\"$HOME/\"\n", home},
      {"XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\" \\\\ 1\"\n", home + "/My \"Desk\" \\ 1"},
      {"XDG_DESKTOP_DIR=\"$HOME/first\"\nXDG_DESKTOP_DIR=\"$HOME/second\"\n", home + "/second"},
      // Neither below $HOME nor absolute, or another variable: not read.
      {"XDG_DESKTOP_DIR=\"relative\"\n", home + "/Desktop"},
      {"XDG_DESKTOP_DIR=\"$HOMEWORK/x\"\n", home + "/Desktop"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.dirs != nullptr ? each.dirs : "(no file)");
    fs::remove(config + "/user-dirs.dirs");
    if (each.dirs != nullptr) Write(config + "/user-dirs.dirs", each.dirs);
    EXPECT_EQ(DesktopFolder(), each.desktop);
  }

  environment.Set("XDG_DATA_HOME", "/srv/data");
  EXPECT_EQ(DataFolder(), "/srv/data");
  environment.Set("XDG_DATA_HOME", "relative/ignored");
  EXPECT_EQ(DataFolder(), home + "/.local/share");
}

TEST(UserFolders, WithoutHomeEveryFolderIsBelowThePasswordDatabasesHome) {
  TemporaryFolder config;
  ScopedEnvironment environment;
  environment.Set("HOME", std::nullopt);
  environment.Set("XDG_CONFIG_HOME", config.Path().string());
  environment.Set("XDG_DATA_HOME", std::nullopt);
  const std::string home = PasswdHome();
  ASSERT_FALSE(home.empty());
  // Never the root of the file system, where "" + "/Desktop" would lead.
  EXPECT_EQ(DesktopFolder(), home + "/Desktop");
  EXPECT_EQ(DataFolder(), home + "/.local/share");
  EXPECT_EQ(FullPathName("~/Tools"), home + "/Tools");
}

TEST(UserFolders, CreatePathMakesEveryMissingFolderOrFails) {
  TemporaryFolder folder;
  const CurrentFolder current(folder.Path());
  Write(folder.Path() / "file", "not a folder");
  const fs::path root = folder.Path();
  struct Case {
    std::string path;
    bool made;
  };
  const Case cases[] = {
      {(root / "a/b/c").string(), true},
      {root.string(), true},
      {(root / "n1/n2/").string(), true},
      {"relative/deeper", true},  // below the current folder
      {(root / "file").string(), false},
      {(root / "file/sub").string(), false},
      {"/proc/quillnet-no-such/folder", false},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.path);
    EXPECT_EQ(CreatePath(each.path), each.made);
    EXPECT_EQ(fs::is_directory(fs::absolute(each.path)), each.made);
  }
}

TEST(ProgramCopy, ReplacesAnEarlierCopyWholeAndLeavesItWhenTheCopyFails) {
  TemporaryFolder folder;
  const fs::path source = folder.Path() / "source";
  const fs::path target = folder.Path() / "quillnet";
  const std::string program(300 * 1024, 'p');  // more than one block
  Write(source, program);
  Write(target, "earlier copy");
  // A running copy keeps the file it was started from.
  std::ifstream running(target, std::ios::binary);
  const mode_t umask = ::umask(077);
  const bool copied = CopyProgramFile(source, target);
  ::umask(umask);
  ASSERT_TRUE(copied);
  EXPECT_EQ(ReadFile(target), program);
  EXPECT_EQ(FileMode(target), 0755u);
  std::string seen;
  std::getline(running, seen);
  EXPECT_EQ(seen, "earlier copy");

  Write(target, "earlier copy");
  fs::create_directories(folder.Path() / "folder/quillnet/inside");
  EXPECT_FALSE(CopyProgramFile((folder.Path() / "missing").string(), target));
  EXPECT_FALSE(CopyProgramFile(folder.Path().string(), target));  // a folder is no program
  EXPECT_FALSE(CopyProgramFile(source, folder.Path() / "no-folder/quillnet"));
  EXPECT_FALSE(CopyProgramFile(source, folder.Path() / "folder/quillnet"));
  EXPECT_EQ(ReadFile(target), "earlier copy");
  EXPECT_EQ(Names(folder.Path()), (std::vector<std::string>{"folder", "quillnet", "source"}));
  EXPECT_EQ(Names(folder.Path() / "folder"), std::vector<std::string>{"quillnet"}) << "no temporary file left";
}

TEST(ProgramCopy, OntoItselfIsRefusedAndTheFileStaysIntact) {
  TemporaryFolder folder;
  const fs::path program = folder.Path() / "quillnet";
  Write(program, "the running program");
  fs::create_symlink(program, folder.Path() / "link");
  fs::create_hard_link(program, folder.Path() / "hard");
  for (const char* target : {"quillnet", "link", "hard"}) {
    SCOPED_TRACE(target);
    EXPECT_FALSE(CopyProgramFile(program, folder.Path() / target));
    EXPECT_EQ(ReadFile(program), "the running program");
  }
  EXPECT_TRUE(fs::is_symlink(folder.Path() / "link"));
  EXPECT_EQ(Names(folder.Path()), (std::vector<std::string>{"hard", "link", "quillnet"}));
}

// Runs `program` with `arguments` as the unprivileged user nobody and returns its exit code.
int RunAsNobody(const std::string& program, std::vector<std::string> arguments) {
  constexpr uid_t kNobody = 65534;
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0) {
      ::execv(program.c_str(), argv.data());
    }
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Binds UDP port 67 on the loopback address: 0 when the port is granted (taken by another
// server counts, the check of the privilege comes first), 13 when refused for lack of it.
constexpr char kBindPort67[] =
    "import errno, socket, sys\n"
    "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
    "try:\n"
    "    s.bind(('127.0.0.1', 67))\n"
    "except OSError as e:\n"
    "    sys.exit(13 if e.errno == errno.EACCES else 0 if e.errno == errno.EADDRINUSE else 1)\n";

// Opens the packet socket of ARP probes: 0 when it is granted, 13 when refused for lack of
// the privilege.
constexpr char kOpenPacketSocket[] =
    "import errno, socket, sys\n"
    "try:\n"
    "    socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0806))\n"
    "except OSError as e:\n"
    "    sys.exit(13 if e.errno in (errno.EPERM, errno.EACCES) else 1)\n";

// Gives the file at `path` the capabilities of `text` (cap_from_text's form); false when this
// process may not.
bool GiveCapabilities(const fs::path& path, const char* text) {
  cap_t capabilities = ::cap_from_text(text);
  const bool given = capabilities != nullptr && ::cap_set_file(path.c_str(), capabilities) == 0;
  ::cap_free(capabilities);
  return given;
}

// A real program that binds port 67 stands in for the wizard, which needs a display. A copy
// that kept the source's capabilities would be a privileged file no package knows of.
TEST(ProgramCopy, TheCopyNeverHoldsTheSourcesCapabilities) {
  std::error_code missing;
  const fs::path python = fs::canonical("/usr/bin/python3", missing);
  if (missing) GTEST_SKIP() << "python3 is not installed";
  TemporaryFolder folder;
  fs::permissions(folder.Path(), fs::perms(0755));
  const fs::path source = folder.Path() / "source";
  const fs::path copy = folder.Path() / "copy";
  fs::copy_file(python, source);
  if (!GiveCapabilities(source, "cap_net_bind_service,cap_net_raw=ep")) {
    GTEST_SKIP() << "giving a file a capability needs CAP_SETFCAP (CI runs as root)";
  }
  ASSERT_EQ(RunAsNobody(source, {"-c", kBindPort67}), 0);

  ASSERT_TRUE(CopyProgramFile(source, copy));
  EXPECT_FALSE(HasPortCapability(copy));
  EXPECT_FALSE(FileHasRawCapability(copy));
  EXPECT_EQ(RunAsNobody(copy, {"-c", kBindPort67}), 13);
  EXPECT_EQ(RunAsNobody(copy, {"-c", kOpenPacketSocket}), 13);
}

// Each check reads its own capability, and only one the program gets at exec (permitted and
// effective) counts.
TEST(ProgramCopy, FileCapabilitiesCountOnlyWhenTheyTakeHoldAtStart) {
  TemporaryFolder folder;
  const fs::path file = folder.Path() / "program";
  Write(file, "program");
  EXPECT_FALSE(HasPortCapability(file));
  EXPECT_FALSE(FileHasRawCapability(file));
  EXPECT_FALSE(FileHasRawCapability(folder.Path() / "missing"));
  const struct {
    const char* capabilities;
    bool port;
    bool raw;
  } cases[] = {
      {"cap_net_bind_service=ep", true, false},
      {"cap_net_raw=ep", false, true},
      {"cap_net_bind_service,cap_net_raw=ep", true, true},
      {"cap_net_bind_service,cap_net_raw=p", false, false},
      {"cap_net_bind_service,cap_net_raw=ei", false, false},
  };
  for (const auto& c : cases) {
    if (!GiveCapabilities(file, c.capabilities)) {
      GTEST_SKIP() << "giving a file a capability needs CAP_SETFCAP (CI runs as root)";
    }
    EXPECT_EQ(HasPortCapability(file), c.port) << c.capabilities;
    EXPECT_EQ(FileHasRawCapability(file), c.raw) << c.capabilities;
  }
}

TEST(ShellLinks, LaunchersQuoteTheTargetAsDesktopEntriesRequire) {
  TemporaryFolder folder;
  struct Case {
    std::string target;
    std::string exec;
  };
  const Case cases[] = {
      {"/opt/Varnholt/Tools/quillnet", "/opt/Varnholt/Tools/quillnet"},
      {"/opt/My Tools/quillnet", "\"/opt/My Tools/quillnet\""},
      // Inside quotes '$' and '\' are escaped, and then every '\' again as in any value.
      {"/opt/a$b\\c\"d%/quillnet", "\"/opt/a\\\\$b\\\\\\\\c\\\\\"d%%/quillnet\""},
  };
  const bool validator = std::system("command -v desktop-file-validate >/dev/null") == 0;
  for (const Case& each : cases) {
    SCOPED_TRACE(each.target);
    const ShellLink link{"Quillnet", "Varnholt IP Addressing Tool", each.target,
                         "/opt/Varnholt/Tools/quillnet.png", "Network;"};
    EXPECT_EQ(DesktopEntryText(link),
              "[Desktop Entry]\nType=Application\nName=Quillnet\n"
              "Comment=Varnholt IP Addressing Tool\nExec=" + each.exec + "\n"
              "Icon=/opt/Varnholt/Tools/quillnet.png\nCategories=Network;\n");
    const fs::path file = folder.Path() / "new/applications/Quillnet.desktop";
    ASSERT_TRUE(SaveShellLink(link, file, false));
    EXPECT_EQ(ReadFile(file), DesktopEntryText(link));
    if (validator) {
      EXPECT_EQ(std::system(("desktop-file-validate '" + file.string() + "'").c_str()), 0);
    }
  }
  // A missing folder is made private, as the XDG rules ask.
  EXPECT_EQ(FileMode(folder.Path() / "new"), 0700u);
}

}  // namespace
}  // namespace quillnet
