// What the wizard relies on from its settings store, run against the store this platform has:
// the SQLite file on Linux, the registry on Windows.
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/settings_location.h"

namespace quillnet {
namespace {

using testing::Bytes;
using testing::SettingsLocation;
using testing::Text;

constexpr const char* kKeyPath = testing::kSettingsKeyPath;


struct Value {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const Value&) const = default;
};

std::optional<Value> Query(const SettingsStore& store, const std::string& name) {
  auto key = store.OpenKey(kKeyPath);
  Value value;
  if (!key || !key->QueryValue(name, value.type, value.data)) return std::nullopt;
  return value;
}

TEST(SettingsStore, OpeningNeverCreatesAndCreatingMakesTheKey) {
  SettingsLocation location;
  SettingsStore store(location.Path());

  EXPECT_EQ(store.OpenKey(kKeyPath), nullptr);
  EXPECT_FALSE(location.Exists());

  ASSERT_NE(store.CreateKey(kKeyPath), nullptr);
  EXPECT_TRUE(location.Exists());
  EXPECT_NE(store.OpenKey(kKeyPath), nullptr);
  // Keys are named case-insensitively, as in the registry; other keys stay missing.
  EXPECT_NE(store.OpenKey("SOFTWARE\\varnholt\\QUILLNET"), nullptr);
  EXPECT_EQ(store.OpenKey("Software\\Varnholt\\Other"), nullptr);
  // Creating an existing key keeps what it holds.
  ASSERT_TRUE(store.OpenKey(kKeyPath)->SetValue("a", kRegSz, Text("x")));
  ASSERT_NE(store.CreateKey(kKeyPath), nullptr);
  EXPECT_TRUE(Query(store, "a").has_value());
}

TEST(SettingsStore, ValuesKeepTheirTypeAndBytesForTheNextRun) {
  SettingsLocation location;
  const Value installed{kRegDword, {7, 0, 0, 0}};
  const Value version{kRegSz, Text("1.1.2.45")};
  const Value addresses{kRegSz, Text("192.168.1.50 255.255.255.0 192.168.1.1")};
  const Value greeting{kRegExpandSz, Text("Grüße aus 東京, %USERPROFILE%")};
  {
    SettingsStore store(location.Path());
    auto key = store.CreateKey(kKeyPath);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->SetValue("Installed", installed.type, installed.data));
    EXPECT_TRUE(key->SetValue("Version", version.type, version.data));
    EXPECT_TRUE(key->SetValue("Gerät", greeting.type, greeting.data));
    EXPECT_TRUE(key->SetValue("Bare", kRegSz, Bytes("no NUL")));
    // A later write replaces both the type and the bytes.
    EXPECT_TRUE(key->SetValue("Path", kRegExpandSz, Text("%HOME%")));
    EXPECT_TRUE(key->SetValue("Path", kRegSz, Text("/opt")));
    // Each device's addresses, named by its MAC address, go in through the wizard's call.
    EXPECT_EQ(store.WriteValue(kKeyPath, "00:1b:2c:3d:4e:5f", addresses.type, addresses.data),
              SettingsStore::WriteResult::kWritten);
    EXPECT_TRUE(store.Failures().empty());
  }
  SettingsStore again(location.Path());
  // Value names are case-insensitive too.
  EXPECT_EQ(Query(again, "INSTALLED"), installed);
  EXPECT_EQ(Query(again, "Version"), version);
  EXPECT_EQ(Query(again, "Gerät"), greeting);
  EXPECT_EQ(Query(again, "Path"), (Value{kRegSz, Text("/opt")}));
  EXPECT_EQ(Query(again, "00:1B:2C:3D:4E:5F"), addresses);
  // Text stored without a NUL reads back as that text, up to a NUL the registry may add.
  const std::optional<Value> bare = Query(again, "Bare");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->type, kRegSz);
  const std::string text(bare->data.begin(), bare->data.end());
  EXPECT_EQ(text.substr(0, text.find('\0')), "no NUL");
  EXPECT_EQ(Query(again, "00:1b:2c:3d:4e:60"), std::nullopt);
}

TEST(SettingsStore, AStoreWithNowhereToKeepSettingsReadsNothingAndSaysWhyWritesFail) {
  SettingsStore store("");
  EXPECT_EQ(store.OpenKey(kKeyPath), nullptr);
  EXPECT_EQ(store.CreateKey(kKeyPath), nullptr);
  EXPECT_EQ(store.WriteValue(kKeyPath, "00:1b:2c:3d:4e:5f", kRegSz, Text("1.2.3.4")),
            SettingsStore::WriteResult::kFailed);
  const std::vector<SettingsStore::Failure> failures = store.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].name, "00:1b:2c:3d:4e:5f");
  EXPECT_FALSE(failures[0].why.empty());
}

}  // namespace
}  // namespace quillnet
