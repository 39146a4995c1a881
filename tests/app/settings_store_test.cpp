#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <latch>
#include <optional>
#include <thread>

#include "app/bootp_wizard_info.h"
#include "platform/user_folders.h"
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

TEST(SettingsStore, OpeningNeverCreatesAndCreatingMakesFoldersFileAndKey) {
  TemporaryFolder folder;
  const std::string file = folder.File("Varnholt/Quillnet/registry.sqlite3");
  SettingsStore store(file);

  EXPECT_EQ(store.OpenKey(kSettingsKeyPath), nullptr);
  EXPECT_FALSE(std::filesystem::exists(file));

  ASSERT_NE(store.CreateKey(kSettingsKeyPath), nullptr);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_NE(store.OpenKey(kSettingsKeyPath), nullptr);
  // Keys are named case-insensitively, as in the registry; other keys stay missing.
  EXPECT_NE(store.OpenKey("SOFTWARE\\varnholt\\QUILLNET"), nullptr);
  EXPECT_EQ(store.OpenKey("Software\\Varnholt"), nullptr);
  // Creating an existing key keeps what it holds.
  ASSERT_TRUE(store.OpenKey(kSettingsKeyPath)->SetValue("a", kRegSz, Bytes("x")));
  ASSERT_NE(store.CreateKey(kSettingsKeyPath), nullptr);
  EXPECT_TRUE(Query(store, "a").has_value());
}

TEST(SettingsStore, ValuesKeepTheirTypeAndBytesAcrossConnections) {
  TemporaryFolder folder;
  const std::string file = folder.File("registry.sqlite3");
  {
    SettingsStore store(file);
    auto key = store.CreateKey(kSettingsKeyPath);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->SetValue("Installed", kRegDword, std::vector<std::uint8_t>{7, 0, 0, 0}));
    EXPECT_TRUE(key->SetValue("Version", kRegSz, Bytes(std::string_view("1.1.2.45\0", 9))));
    EXPECT_TRUE(key->SetValue("Path", kRegExpandSz, Bytes("%HOME%")));
    EXPECT_TRUE(key->SetValue("Empty", kRegSz, {}));
    // A later write replaces both the type and the bytes.
    EXPECT_TRUE(key->SetValue("Path", kRegSz, Bytes("/opt")));
  }
  SettingsStore again(file);
  const auto installed = Query(again, "installed");
  ASSERT_TRUE(installed);
  EXPECT_EQ(installed->type, kRegDword);
  EXPECT_EQ(installed->data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  const auto version = Query(again, "Version");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->data, Bytes(std::string_view("1.1.2.45\0", 9)));
  const auto path = Query(again, "Path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, kRegSz);
  EXPECT_EQ(path->data, Bytes("/opt"));
  const auto empty = Query(again, "Empty");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->data.empty());
  EXPECT_FALSE(Query(again, "Missing"));
}

TEST(SettingsStore, CorruptFileReadsAsDefaultsAndIsNeverRewritten) {
  TemporaryFolder folder;
  const std::string file = folder.File("registry.sqlite3");
  const std::string garbage(5000, '\x5a');
  std::ofstream(file, std::ios::binary) << garbage;

  CBootpWizardInfo::Environment environment;
  environment.settingsFile = file;
  CBootpWizardInfo info(environment);
  info.LoadSettings();
  EXPECT_FALSE(info.IsInstalled());
  info.SetMacAddress("00:1b:2c:3d:4e:5f");
  EXPECT_FALSE(info.LoadRememberedAddresses());
  info.SaveInstalled(true, kProgramVersion);
  EXPECT_FALSE(info.IsInstalled()) << "a write that could not happen changes nothing";
  info.SetIpAddress("10.0.0.9");
  info.SaveRememberedAddresses();

  EXPECT_EQ(ReadFile(file), garbage);
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
