// The SQLite file's own behaviour under the wizard's settings operations: its modes, damage,
// other programs' locks. What every store does is tested in tests/platform.
#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <optional>
#include <thread>

#include "app/bootp_wizard_info.h"
#include "platform/linux/user_folders.h"
#include "tests/app/temporary_folder.h"

namespace quillnet {
namespace {

using testing::TemporaryFolder;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Value {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

std::optional<Value> Query(const SettingsStore& store, const std::string& name) {
  auto key = store.OpenKey(kSettingsKeyPath);
  Value value;
  if (!key || !key->QueryValue(name, value.type, value.data)) return std::nullopt;
  return value;
}

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls `condition` until it holds or `limit` has passed.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const Clock::time_point end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

unsigned ModeOf(const std::filesystem::path& path) {
  return static_cast<unsigned>(std::filesystem::status(path).permissions()) & 0777;
}

// Sets the process's umask for the test and restores it afterwards.
class Umask {
 public:
  explicit Umask(mode_t mask) : m_saved(::umask(mask)) {}
  ~Umask() { ::umask(m_saved); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t m_saved;
};

// Another running copy of the program: its own connection to the store file.
class OtherCopy {
 public:
  explicit OtherCopy(const std::string& file) {
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(m_db, 100);
  }
  ~OtherCopy() { sqlite3_close(m_db); }
  OtherCopy(const OtherCopy&) = delete;
  OtherCopy& operator=(const OtherCopy&) = delete;

  // Keeps every other connection from reading and writing until Release.
  void Lock() {
    ASSERT_EQ(sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  void Release() {
    ASSERT_EQ(sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  }

  // The bytes of value `name` as the file holds them now; nothing when missing or locked.
  std::optional<std::vector<std::uint8_t>> Read(const std::string& name) {
    sqlite3_stmt* query = nullptr;
    std::optional<std::vector<std::uint8_t>> data;
    if (sqlite3_prepare_v2(m_db, "SELECT data FROM key_values WHERE name = ?1", -1, &query,
                           nullptr) == SQLITE_OK &&
        sqlite3_bind_text(query, 1, name.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(query, 0));
      data.emplace(bytes, bytes + sqlite3_column_bytes(query, 0));
    }
    sqlite3_finalize(query);
    return data;
  }

 private:
  sqlite3* m_db = nullptr;
};

// The value as a fresh connection finds it in the file.
std::optional<std::vector<std::uint8_t>> ReadFresh(const std::string& file,
                                                   const std::string& name) {
  return OtherCopy(file).Read(name);
}

std::size_t CountLines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Writes a store through the wizard's own operations: installed, and enough devices to fill
// several pages.
void WriteInstalledStoreWithDevices(const std::string& file, int devices) {
  CBootpWizardInfo::Environment environment;
  environment.settingsFile = file;
  CBootpWizardInfo info(environment);
  info.SaveInstalled(true, kProgramVersion);
  for (int device = 0; device < devices; ++device) {
    const auto high = static_cast<unsigned char>(device / 256);
    const auto low = static_cast<unsigned char>(device % 256);
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:00:00:00:%02x:%02x", high, low);
    info.SetMacAddress(mac);
    info.SetIpAddress("10.0." + std::to_string(high) + "." + std::to_string(low));
    info.SetSubnetMask("255.0.0.0");
    info.SetDefaultGateway("10.0.0.1");
    info.SaveRememberedAddresses();
  }
}

TEST(SettingsStore, DamagedFileReadsAsDefaultsIsNeverWrittenAndIsReportedOnce) {
  constexpr std::size_t kPage = 4096;
  struct Case {
    const char* name;
    void (*damage)(const std::string& file);
  };
  const Case cases[] = {
      {"not a database at all",
       [](const std::string& file) {
         std::ofstream(file, std::ios::binary) << std::string(5000, '\x5a');
       }},
      {"a store with one page overwritten",
       [](const std::string& file) {
         WriteInstalledStoreWithDevices(file, 300);
         ASSERT_GE(std::filesystem::file_size(file), 6 * kPage) << "the devices span pages";
         std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
         out.seekp(4 * kPage);
         out << std::string(kPage, '\xa5');
       }},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    TemporaryFolder folder;
    const std::string file = folder.File("registry.sqlite3");
    row.damage(file);
    const std::string before = ReadFile(file);

    ::testing::internal::CaptureStderr();
    {
      CBootpWizardInfo::Environment environment;
      environment.settingsFile = file;
      CBootpWizardInfo info(environment);
      info.LoadSettings();
      EXPECT_FALSE(info.IsInstalled());
      info.SetMacAddress("00:00:00:00:00:01");
      EXPECT_FALSE(info.LoadRememberedAddresses());
      info.SaveInstalled(true, kProgramVersion);
      EXPECT_FALSE(info.IsInstalled()) << "a write that could not happen changes nothing";
      info.SetIpAddress("10.9.9.9");
      info.SaveRememberedAddresses();

      SettingsStore store(file);
      EXPECT_EQ(store.OpenKey(kSettingsKeyPath), nullptr);
      EXPECT_EQ(store.CreateKey(kSettingsKeyPath), nullptr);
      EXPECT_EQ(store.WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("x")),
                SettingsStore::WriteResult::kFailed);
    }
    const std::string report = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(ReadFile(file), before);
    EXPECT_NE(report.find(file), std::string::npos) << report;
    EXPECT_NE(report.find("damaged"), std::string::npos) << report;
    EXPECT_NE(report.find("left as it is"), std::string::npos) << report;
    // Once for the wizard's store and once for the second store, however often each tried.
    EXPECT_EQ(CountLines(report), 2u) << report;
  }
}

TEST(SettingsStore, LockedStoreReadsAsDefaultsAndAFailedWriteKeepsEarlierContents) {
  TemporaryFolder folder;
  const std::string file = folder.File("registry.sqlite3");
  SettingsStore store(file, 50);
  {
    auto key = store.CreateKey(kSettingsKeyPath);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->SetValue("Version", kRegSz, Bytes("old")));
  }
  auto key = store.OpenKey(kSettingsKeyPath);
  ASSERT_NE(key, nullptr);

  // Another program holds the store locked for writing and reading.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM key_values;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);

  EXPECT_FALSE(key->SetValue("Version", kRegSz, Bytes("new")));
  EXPECT_EQ(store.OpenKey(kSettingsKeyPath), nullptr);
  EXPECT_EQ(store.CreateKey(kSettingsKeyPath), nullptr);

  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  const auto version = Query(store, "Version");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->data, Bytes("old"));
}

TEST(SettingsStore, TwoWritersAtTheSameMomentBothKeepTheirValues) {
  TemporaryFolder folder;
  const std::string file = folder.File("Varnholt/Quillnet/registry.sqlite3");
  constexpr int kDevicesPerWriter = 40;
  std::latch start(2);

  auto writer = [&](int first) {
    // Each writer is a whole run of the program with its own connection to the store.
    CBootpWizardInfo::Environment environment;
    environment.settingsFile = file;
    CBootpWizardInfo info(environment);
    start.arrive_and_wait();
    for (int device = first; device < first + kDevicesPerWriter; ++device) {
      char mac[18];
      std::snprintf(mac, sizeof mac, "00:00:00:00:%02x:%02x", device / 256, device % 256);
      info.SetMacAddress(mac);
      info.SetIpAddress("10.0.0." + std::to_string(device));
      info.SetSubnetMask("255.0.0.0");
      info.SetDefaultGateway("10.0.0.1");
      info.SaveRememberedAddresses();
    }
  };
  std::thread one(writer, 0);
  std::thread two(writer, 100);
  one.join();
  two.join();

  CBootpWizardInfo::Environment environment;
  environment.settingsFile = file;
  CBootpWizardInfo reader(environment);
  for (int first : {0, 100}) {
    for (int device = first; device < first + kDevicesPerWriter; ++device) {
      char mac[18];
      std::snprintf(mac, sizeof mac, "00:00:00:00:%02x:%02x", device / 256, device % 256);
      reader.SetMacAddress(mac);
      ASSERT_TRUE(reader.LoadRememberedAddresses()) << mac;
      EXPECT_EQ(reader.GetIpAddress(), "10.0.0." + std::to_string(device));
    }
  }
}

TEST(SettingsStore, FileAndTheFoldersItMakesArePrivateWhateverTheUmask) {
  struct Case {
    mode_t umask;
    bool throughCreateKey;  // else through WriteValue
  };
  for (const Case row : {Case{0, true}, Case{0, false}, Case{022, false}, Case{0277, true}}) {
    SCOPED_TRACE(::testing::Message() << "umask " << std::oct << row.umask
                                    << (row.throughCreateKey ? ", CreateKey" : ", WriteValue"));
    TemporaryFolder folder;
    // An existing parent such as ~/.config keeps its mode.
    const std::filesystem::path config = folder.Path() / "config";
    std::filesystem::create_directory(config);
    std::filesystem::permissions(config, std::filesystem::perms(0755));
    const std::string file = (config / "Varnholt/Quillnet/registry.sqlite3").string();
    {
      Umask mask(row.umask);
      SettingsStore store(file);
      if (row.throughCreateKey) {
        ASSERT_NE(store.CreateKey(kSettingsKeyPath), nullptr);
      } else {
        ASSERT_EQ(store.WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("x")),
                  SettingsStore::WriteResult::kWritten);
      }
    }
    EXPECT_EQ(ModeOf(config / "Varnholt"), 0700u);
    EXPECT_EQ(ModeOf(config / "Varnholt/Quillnet"), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(ModeOf(config), 0755u);
  }
}

TEST(SettingsStore, ExistingFileOthersCanReadIsNarrowedToItsUserWhenOpened) {
  struct Case {
    unsigned before;
    unsigned after;
  };
  for (const Case row : {Case{0644, 0600}, Case{0666, 0600}, Case{0755, 0600}, Case{0440, 0400}}) {
    for (const bool throughWrite : {false, true}) {
      SCOPED_TRACE(::testing::Message() << std::oct << row.before
                                        << (throughWrite ? ", written" : ", opened"));
      TemporaryFolder folder;
      const std::string file = folder.File("registry.sqlite3");
      SettingsStore store(file);
      ASSERT_NE(store.CreateKey(kSettingsKeyPath), nullptr);
      std::filesystem::permissions(file, std::filesystem::perms(row.before));
      if (throughWrite) {
        store.WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("x"));
      } else {
        store.OpenKey(kSettingsKeyPath);
      }
      EXPECT_EQ(ModeOf(file), row.after);
    }
  }
}

// A store that is installed and remembers one device.
class LockedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CBootpWizardInfo info(Environment());
    info.SaveInstalled(true, kProgramVersion);
    info.SetMacAddress(kMac);
    info.SetIpAddress("10.0.0.5");
    info.SaveRememberedAddresses();
  }
  CBootpWizardInfo::Environment Environment() const {
    CBootpWizardInfo::Environment environment;
    environment.settingsFile = m_file;
    return environment;
  }

  static constexpr char kMac[] = "00:1b:2c:3d:4e:5f";
  TemporaryFolder m_folder;
  std::string m_file = m_folder.File("Varnholt/Quillnet/registry.sqlite3");
};

TEST_F(LockedStoreTest, ReadsGiveUpWithinTheBusyTimeoutAndGiveDefaults) {
  CBootpWizardInfo info(Environment());
  OtherCopy other(m_file);
  other.Lock();

  Clock::time_point start = Clock::now();
  info.LoadSettings();
  const long long loadMs = MillisecondsSince(start);
  EXPECT_FALSE(info.IsInstalled());
  info.SetMacAddress(kMac);
  start = Clock::now();
  EXPECT_FALSE(info.LoadRememberedAddresses());
  const long long rememberedMs = MillisecondsSince(start);
  // About 200 ms each; the old five seconds froze the wizard.
  EXPECT_LT(loadMs, 1000);
  EXPECT_LT(rememberedMs, 1000);

  other.Release();
  info.LoadSettings();
  EXPECT_TRUE(info.IsInstalled());
  EXPECT_TRUE(info.LoadRememberedAddresses());
}

TEST_F(LockedStoreTest, WritesUnderTheLockQueueAndLandInOrderOnceItIsFreed) {
  auto store = std::make_unique<SettingsStore>(m_file);
  OtherCopy other(m_file);
  other.Lock();

  const Clock::time_point start = Clock::now();
  EXPECT_EQ(store->WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("1")),
            SettingsStore::WriteResult::kQueued);
  EXPECT_EQ(store->WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("2")),
            SettingsStore::WriteResult::kQueued);
  EXPECT_LT(MillisecondsSince(start), 1000) << "the caller does not wait for the lock";
  other.Release();
  // The lock is free now, yet these land only after the queued ones.
  store->WriteValue(kSettingsKeyPath, "a", kRegSz, Bytes("3"));
  store->WriteValue(kSettingsKeyPath, "b", kRegSz, Bytes("x"));

  // Readers on this thread meanwhile use connections of their own.
  EXPECT_TRUE(Eventually([&] {
    return Query(*store, "b").has_value() && ReadFresh(m_file, "b") == Bytes("x");
  }));
  store.reset();
  EXPECT_EQ(ReadFresh(m_file, "a"), Bytes("3"));
}

TEST_F(LockedStoreTest, TheWizardsWritesUnderTheLockAreNotLostAtExit) {
  auto info = std::make_unique<CBootpWizardInfo>(Environment());
  OtherCopy other(m_file);
  other.Lock();

  const Clock::time_point start = Clock::now();
  info->SaveInstalled(false, kProgramVersion);
  EXPECT_FALSE(info->IsInstalled()) << "a queued write counts as made";
  info->SetMacAddress(kMac);
  info->SetIpAddress("10.0.0.6");
  info->SetSubnetMask("255.0.0.0");
  info->SaveRememberedAddresses();
  EXPECT_LT(MillisecondsSince(start), 1000);

  // The other copy lets go while this one is ending.
  std::latch ending(1);
  std::thread release([&] {
    ending.wait();
    other.Release();
  });
  ending.count_down();
  info.reset();
  release.join();

  std::uint32_t zero = 0;
  EXPECT_EQ(ReadFresh(m_file, "Installed"),
            std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t*>(&zero),
                                      reinterpret_cast<std::uint8_t*>(&zero) + 4));
  EXPECT_EQ(ReadFresh(m_file, kMac), Bytes(std::string_view("10.0.0.6 255.0.0.0 \0", 20)));
}

TEST_F(LockedStoreTest, AWriteLockedOutForTheWholeRetryWindowIsReported) {
  auto store = std::make_unique<SettingsStore>(m_file, 50, 300);
  OtherCopy other(m_file);
  other.Lock();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(store->WriteValue(kSettingsKeyPath, "Lost", kRegSz, Bytes("x")),
            SettingsStore::WriteResult::kQueued);
  store.reset();
  const std::string report = ::testing::internal::GetCapturedStderr();
  other.Release();

  EXPECT_EQ(CountLines(report), 1u) << report;
  EXPECT_NE(report.find(m_file), std::string::npos) << report;
  EXPECT_NE(report.find("\"Lost\""), std::string::npos) << report;
  EXPECT_EQ(ReadFresh(m_file, "Lost"), std::nullopt);
}

TEST_F(LockedStoreTest, FinishGivesHeldUpWritesTwoSecondsThenSaysWhyTheyWereLost) {
  CBootpWizardInfo info(Environment());
  OtherCopy other(m_file);
  other.Lock();
  info.SetMacAddress(kMac);
  info.SetIpAddress("10.0.0.7");
  info.SaveRememberedAddresses();
  EXPECT_TRUE(info.GetSettingsProblems().empty()) << "a queued write is not lost yet";

  ::testing::internal::CaptureStderr();
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(info.FinishWizard(nullptr));
  const long long finishMs = MillisecondsSince(start);
  ::testing::internal::GetCapturedStderr();
  EXPECT_GE(finishMs, 1900);
  EXPECT_LT(finishMs, 3000) << "the ended program must not linger";
  EXPECT_EQ(info.GetSettingsProblems(),
            std::vector<std::string>{"The addresses of " + std::string(kMac) +
                                     " were not remembered: another program kept the settings "
                                     "file " + m_file + " locked."});
}

TEST(SettingsStore, AFileThatCannotBeWrittenIsSaidAtOnce) {
  TemporaryFolder folder;
  CBootpWizardInfo::Environment environment;
  // A folder where the file should be.
  environment.settingsFile = folder.File("registry.sqlite3");
  ASSERT_TRUE(std::filesystem::create_directory(environment.settingsFile));
  CBootpWizardInfo info(environment);
  info.SetMacAddress("02:00:5e:00:00:01");
  info.SaveRememberedAddresses();
  const std::vector<std::string> problems = info.GetSettingsProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].starts_with("The addresses of 02:00:5e:00:00:01 were not remembered: "
                                      "the settings file " + environment.settingsFile +
                                      " could not be written (")) << problems[0];
}

// Restores one environment variable when the test ends.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : m_name(name) {
    if (const char* value = std::getenv(name)) m_value = value;
  }
  ~SavedVariable() {
    if (m_value) {
      setenv(m_name, m_value->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_value;
};

TEST(SettingsStore, DefaultFileFollowsTheUsersConfigFolder) {
  SavedVariable config("XDG_CONFIG_HOME");
  SavedVariable home("HOME");

  setenv("XDG_CONFIG_HOME", "/tmp/conf", 1);
  EXPECT_EQ(DefaultSettingsFilePath(), "/tmp/conf/Varnholt/Quillnet/registry.sqlite3");

  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(DefaultSettingsFilePath(), "/home/someone/.config/Varnholt/Quillnet/registry.sqlite3");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultSettingsFilePath(), "/home/someone/.config/Varnholt/Quillnet/registry.sqlite3");

  // Without HOME the password database names the home folder.
  unsetenv("HOME");
  const std::string fromPasswd = HomeFolder();
  EXPECT_FALSE(fromPasswd.empty());
  EXPECT_EQ(DefaultSettingsFilePath(), fromPasswd + "/.config/Varnholt/Quillnet/registry.sqlite3");
}

}  // namespace
}  // namespace quillnet
