// The registry wrappers on the real registry, below a scratch key of
// HKEY_CURRENT_USER that each test removes again.

#include "host/registry_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf.h"
#include "win/wide.h"

namespace korvane {
namespace {

class Registry : public ::testing::Test {
 protected:
  void TearDown() override { static_cast<void>(::RegDeleteTreeW(HKEY_CURRENT_USER, win::wide(scratch_))); }

  // A value as another reader sees it (RegGetValueW, any type).
  [[nodiscard]] std::string read_back(const std::u16string& key, const wchar_t* name,
                                                    DWORD* type) const {
    std::string data(4096, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, win::wide(key), name,
                                          RRF_RT_ANY | RRF_NOEXPAND, type, data.data(), &size);
    if (status != ERROR_SUCCESS) return {};
    data.resize(size);
    return data;
  }

  [[nodiscard]] DWORD count(const std::u16string& key, bool subkeys) const {
    HKEY k = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, win::wide(key), 0, KEY_READ, &k) != ERROR_SUCCESS) return 9999;
    DWORD keys = 0, values = 0;
    ::RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(k);
    return subkeys ? keys : values;
  }

  const std::u16string scratch_ =
      u"Software\\KorvaneTest-" + utf8_to_utf16(std::to_string(::GetCurrentProcessId()) + "-" +
                                                std::to_string(::GetTickCount64()));
  const std::u16string key_ = scratch_ + u"\\Uninstall\\Korvane";
};

// The value `name` of HKCU\`key` as read_user_key gives it; error 2 when
// the key holds none of that name.
IoResult<RegistryValue> read_user_value(const std::u16string& key, std::u16string_view name) {
  auto values = read_user_key(key);
  if (!values) return std::unexpected(values.error());
  for (RegistryValue& v : *values) {
    if (v.name == name) return std::move(v);
  }
  return std::unexpected(IoError::os(ERROR_FILE_NOT_FOUND));
}

std::vector<RegistryValue> sample_values() {
  return {
      string_value(u"DisplayName", u"Korvane"),
      string_value(u"InstallLocation", u"C:\\Users\\J\u00f6rg's \u6e2c\u8a66 \U0001f3b5\\Korvane"),
      string_value(u"Empty", u""),
      dword_value(u"NoModify", 1),
  };
}

TEST_F(Registry, WrittenValuesAreStoredWithTheirTypesAndBytes) {
  ASSERT_TRUE(write_user_key(key_, sample_values()));
  for (const RegistryValue& want : sample_values()) {
    const auto got = read_user_value(key_, want.name);
    ASSERT_TRUE(got) << to_string_lossy(want.name);
    EXPECT_EQ(want, *got);
    DWORD type = 0;
    const std::u16string name = want.name;
    EXPECT_EQ(want.data, read_back(key_, win::wide(name), &type)) << to_string_lossy(want.name);
    EXPECT_EQ(want.type, type);
  }
  EXPECT_EQ(4u, count(key_, false));
  EXPECT_EQ(4u, read_user_key(key_)->size());
}

TEST_F(Registry, WritingReplacesWhatTheKeyHeld) {
  ASSERT_TRUE(write_user_key(key_, std::vector{string_value(u"Stray", u"old"), string_value(u"DisplayName", u"Old")}));
  ASSERT_TRUE(write_user_key(key_ + u"\\Sub", std::vector{dword_value(u"X", 2)}));
  ASSERT_TRUE(write_user_key(key_, sample_values()));
  EXPECT_EQ(4u, count(key_, false));
  EXPECT_EQ(0u, count(key_, true));
  EXPECT_EQ(string_value(u"DisplayName", u"Korvane"), read_user_value(key_, u"DisplayName"));
  EXPECT_EQ(IoError::os(ERROR_FILE_NOT_FOUND), read_user_value(key_, u"Stray").error());
}

TEST_F(Registry, SettingValuesKeepsWhatElseTheKeyHolds) {
  ASSERT_TRUE(set_user_values(key_, std::vector{string_value(u"Stray", u"old"), dword_value(u"NoModify", 0)}));
  ASSERT_TRUE(set_user_values(key_, sample_values()));
  EXPECT_EQ(5u, count(key_, false));
  EXPECT_EQ(string_value(u"Stray", u"old"), read_user_value(key_, u"Stray"));
  EXPECT_EQ(dword_value(u"NoModify", 1), read_user_value(key_, u"NoModify"));
}

TEST_F(Registry, AMissingKeyOrValueIsError2) {
  EXPECT_EQ(IoError::os(ERROR_FILE_NOT_FOUND), read_user_value(key_, u"DisplayName").error());
  ASSERT_TRUE(write_user_key(key_, sample_values()));
  EXPECT_EQ(IoError::os(ERROR_FILE_NOT_FOUND), read_user_value(key_, u"NoRepair").error());
}

TEST_F(Registry, ALongValueIsReadWhole) {
  std::u16string text;
  for (int i = 0; i < 5000; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
  ASSERT_TRUE(write_user_key(key_, std::vector{string_value(u"Long", text)}));
  EXPECT_EQ(string_value(u"Long", text), read_user_value(key_, u"Long"));
}

// What a key that cannot take the entry gives: the run reports this error.
TEST_F(Registry, AKeyBelowAVolatileOneCannotBeCreated) {
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, win::wide(scratch_), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent, nullptr));
  ::RegCloseKey(parent);
  EXPECT_EQ(IoError::os(ERROR_CHILD_MUST_BE_VOLATILE), write_user_key(key_, sample_values()).error());
  EXPECT_EQ(IoError::os(ERROR_FILE_NOT_FOUND), read_user_value(key_, u"DisplayName").error());
}

TEST_F(Registry, NamesHoldingANulAreRefused) {
  const std::u16string with_nul(u"Display\0Name", 12);
  EXPECT_EQ(ErrorKind::InvalidInput, read_user_key(std::u16string(u"Soft\0ware", 9)).error().kind());
  EXPECT_EQ(ErrorKind::InvalidInput, write_user_key(key_, std::vector{string_value(with_nul, u"x")}).error().kind());
}

}  // namespace
}  // namespace korvane
