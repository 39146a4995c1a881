// Windows only: the registry's side of the settings store: what other Windows programs find
// there, and what the store makes of what they left.
#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/wide_text.h"
#include "tests/support/settings_location.h"

namespace quillnet {
namespace {

using testing::Bytes;
using testing::SettingsLocation;
using testing::Text;

constexpr const char* kKeyPath = testing::kSettingsKeyPath;


std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text) {
  std::vector<std::uint8_t> bytes(text.size() * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

// UTF-16 text as Windows programs store it: with its terminating NUL.
std::vector<std::uint8_t> Utf16Text(std::wstring_view text) {
  std::vector<std::uint8_t> bytes = Utf16Bytes(text);
  bytes.insert(bytes.end(), sizeof(wchar_t), 0);
  return bytes;
}

// The key below HKEY_CURRENT_USER that the store at `location` keeps `kKeyPath` in.
std::wstring RegistryKey(const SettingsLocation& location) {
  const std::string prefix = "HKEY_CURRENT_USER\\";
  return WideText(location.Path().substr(prefix.size()) + "\\" + kKeyPath);
}

struct RawValue {
  DWORD type = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const RawValue&) const = default;
};

// The value as any Windows program reads it, without the store.
std::optional<RawValue> ReadRaw(const SettingsLocation& location, const std::wstring& name) {
  RawValue value;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, RegistryKey(location).c_str(), name.c_str(),
                     RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  if (::RegGetValueW(HKEY_CURRENT_USER, RegistryKey(location).c_str(), name.c_str(),
                     RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(),
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

TEST(RegistrySettingsStore, ValuesAreKeptAsWindowsProgramsReadThem) {
  SettingsLocation location;
  SettingsStore store(location.Path());
  auto key = store.CreateKey(kKeyPath);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->SetValue("Installed", kRegDword, std::vector<std::uint8_t>{1, 0, 0, 0}));
  ASSERT_TRUE(key->SetValue("Version", kRegSz, Text("1.1.2.45")));
  ASSERT_EQ(store.WriteValue(kKeyPath, "00:1b:2c:3d:4e:5f", kRegSz,
                             Text("192.168.1.50 255.255.255.0 192.168.1.1")),
            SettingsStore::WriteResult::kWritten);
  // Text without its NUL gets one, and a UTF-8 name and text become UTF-16.
  ASSERT_TRUE(key->SetValue("Größe", kRegExpandSz, Bytes("%TEMP%\\東京")));

  EXPECT_EQ(ReadRaw(location, L"Installed"), (RawValue{REG_DWORD, {1, 0, 0, 0}}));
  EXPECT_EQ(ReadRaw(location, L"Version"), (RawValue{REG_SZ, Utf16Text(L"1.1.2.45")}));
  EXPECT_EQ(ReadRaw(location, L"00:1b:2c:3d:4e:5f"),
            (RawValue{REG_SZ, Utf16Text(L"192.168.1.50 255.255.255.0 192.168.1.1")}));
  EXPECT_EQ(ReadRaw(location, L"Gr\u00f6\u00dfe"),
            (RawValue{REG_EXPAND_SZ, Utf16Text(L"%TEMP%\\\u6771\u4eac")}));
}

TEST(RegistrySettingsStore, TextOtherProgramsStoredOddlyReadsAsFarAsItGoes) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> stored;  // UTF-16 as another program left it
    std::string read;
  };
  std::vector<std::uint8_t> oddLength = Utf16Text(L"10.0.0.1");
  oddLength.push_back(0x41);
  const Case cases[] = {
      {"without its NUL", Utf16Bytes(L"10.0.0.1 255.0.0.0"), "10.0.0.1 255.0.0.0"},
      {"with a half unit after its NUL", oddLength, {"10.0.0.1\0", 9}},
      {"odd length without a NUL", {'1', 0, '0', 0, '.'}, "10"},
      {"empty", {}, ""},
      {"an unpaired surrogate", Utf16Bytes(L"a\xd800z"), "a\xef\xbf\xbdz"},
  };
  SettingsLocation location;
  SettingsStore store(location.Path());
  ASSERT_NE(store.CreateKey(kKeyPath), nullptr);
  HKEY raw = nullptr;
  ASSERT_EQ(
      ::RegOpenKeyExW(HKEY_CURRENT_USER, RegistryKey(location).c_str(), 0, KEY_SET_VALUE, &raw),
      ERROR_SUCCESS);
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    // Windows counts in a NUL that follows the bytes given, as a caller's forgotten one: the
    // bytes are followed by other text here.
    std::vector<std::uint8_t> buffer = row.stored;
    buffer.insert(buffer.end(), {'X', 0, 'X', 0});
    ASSERT_EQ(::RegSetValueExW(raw, L"00:1b:2c:3d:4e:5f", 0, REG_SZ, buffer.data(),
                               static_cast<DWORD>(row.stored.size())),
              ERROR_SUCCESS);
    auto key = store.OpenKey(kKeyPath);
    ASSERT_NE(key, nullptr);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(key->QueryValue("00:1b:2c:3d:4e:5f", type, data));
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(std::string(data.begin(), data.end()), row.read);
  }
  ::RegCloseKey(raw);
}

TEST(RegistrySettingsStore, WhatTheRegistryCannotKeepAsGivenIsRefusedAndSaid) {
  SettingsLocation location;
  SettingsStore store(location.Path());
  auto key = store.CreateKey(kKeyPath);
  ASSERT_NE(key, nullptr);
  // Bytes that are not UTF-8, in a name or in text, have no UTF-16 form.
  EXPECT_FALSE(key->SetValue("a", kRegSz, Bytes("caf\xe9")));
  EXPECT_FALSE(key->SetValue("caf\xe9", kRegDword, std::vector<std::uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(store.WriteValue(kKeyPath, "b\xff", kRegSz, Text("1.2.3.4")),
            SettingsStore::WriteResult::kFailed);
  EXPECT_EQ(ReadRaw(location, L"a"), std::nullopt);

  // Another hive is not the user's to keep settings in.
  SettingsStore elsewhere("HKEY_LOCAL_MACHINE\\Software\\Varnholt\\QuillnetTest");
  EXPECT_EQ(elsewhere.CreateKey(kKeyPath), nullptr);
  EXPECT_EQ(elsewhere.WriteValue(kKeyPath, "c", kRegSz, Text("x")),
            SettingsStore::WriteResult::kFailed);

  const std::vector<SettingsStore::Failure> failures = store.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].name, "b\xff");
  EXPECT_EQ(failures[0].why.find("the registry key " + location.Path() + "\\" + kKeyPath +
                                 " could not be written ("),
            0u)
      << failures[0].why;
  ASSERT_EQ(elsewhere.Failures().size(), 1u);
  EXPECT_NE(elsewhere.Failures()[0].why.find("HKEY_LOCAL_MACHINE"), std::string::npos);
}

}  // namespace
}  // namespace quillnet
