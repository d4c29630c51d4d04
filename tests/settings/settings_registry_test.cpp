#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/mod_registry.h"
#include "platform/core/current.h"
#include "platform/registry/registry.h"

namespace dovel::config {
namespace {

using platform::kHkeyLocalMachine;
using platform::reg_type::kSz;

// A registry whose answers the test dictates, for what the real store never
// does: a size no buffer can take, a value that changes between the queries.
class ScriptedRegistry final : public platform::Registry {
 public:
  std::error_code open_status;
  std::error_code query_status;  // the first query's, on an open key
  std::uint32_t type = kSz;
  std::uint32_t size = 0;
  std::error_code second_query_status;
  std::vector<std::string> calls;
  std::vector<platform::RegistryKey> closed;

  std::error_code OpenKey(platform::RegistryKey, std::string_view, platform::RegistryKey& key) override {
    calls.push_back("OpenKey");
    key = open_status ? 0 : 0x4242;
    return open_status;
  }
  std::error_code CreateKey(platform::RegistryKey, std::string_view, platform::RegistryKey& key) override {
    calls.push_back("CreateKey");
    key = 0;
    return SystemError::kAccessDenied;
  }
  std::error_code QueryValue(platform::RegistryKey key, std::string_view, std::uint32_t* type_out, std::uint8_t* data,
                             std::uint32_t* size_out) override {
    calls.push_back(data == nullptr ? "Query" : "QueryInto" + std::to_string(*size_out));
    if (key == 0) return SystemError::kInvalidHandle;
    if (data == nullptr && query_status) return query_status;
    if (type_out != nullptr) *type_out = type;
    if (data == nullptr) *size_out = size;
    return data == nullptr ? std::error_code() : second_query_status;
  }
  std::error_code SetValue(platform::RegistryKey, std::string_view, std::uint32_t, const std::uint8_t*,
                           std::uint32_t) override {
    calls.push_back("SetValue");
    return SystemError::kInvalidHandle;
  }
  std::error_code DeleteValue(platform::RegistryKey, std::string_view) override { return SystemError::kInvalidHandle; }
  std::error_code EnumKey(platform::RegistryKey, std::uint32_t, std::string&) override {
    return SystemError::kInvalidHandle;
  }
  std::error_code EnumValue(platform::RegistryKey, std::uint32_t, std::string&, std::uint32_t&) override {
    return SystemError::kInvalidHandle;
  }
  std::error_code CloseKey(platform::RegistryKey key) override {
    calls.push_back("CloseKey");
    closed.push_back(key);
    if (key == 0) return SystemError::kInvalidHandle;
    return {};
  }
};

TEST(SettingsRegistryScripted, TheSecondQueryIsNotCheckedAndTheKeyIsAlwaysClosed) {
  ScriptedRegistry registry;
  platform::ScopedOverride<platform::Registry> use(registry);
  // The value grew between the two queries: the buffer stays blanks.
  registry.size = 3;
  registry.second_query_status = SystemError::kMoreData;
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"K", u"V", u"d"), u"   ");
  EXPECT_THAT(registry.calls, ::testing::ElementsAre("OpenKey", "Query", "QueryInto3", "CloseKey"));
  EXPECT_THAT(registry.closed, ::testing::ElementsAre(0x4242u));

  // A failed open still queries (on no key) and closes (no key).
  registry.calls.clear();
  registry.closed.clear();
  registry.open_status = SystemError::kFileNotFound;
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"K", u"V", u"d"), u"d");
  EXPECT_THAT(registry.calls, ::testing::ElementsAre("OpenKey", "Query", "CloseKey"));
  EXPECT_THAT(registry.closed, ::testing::ElementsAre(0u));
}

TEST(SettingsRegistryScripted, ABufferThatCannotBeMadeGivesEmptyText) {
  ScriptedRegistry registry;
  platform::ScopedOverride<platform::Registry> use(registry);
  registry.size = 0xFFFFFFF0u;
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"K", u"V", u"d"), u"");
  EXPECT_EQ(GetAppSetting(u"Vimra", u"Setup", u"V", u"d"), u"") << "GetRegString's own result, not a failure";
  EXPECT_EQ(registry.calls.back(), "CloseKey");
}

TEST(SettingsRegistryScripted, AFailedSaveStillClosesAndSaysNothing) {
  ScriptedRegistry registry;
  platform::ScopedOverride<platform::Registry> use(registry);
  SaveAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"5");
  EXPECT_THAT(registry.calls, ::testing::ElementsAre("CreateKey", "SetValue", "CloseKey"));
}

// What ReadRegString reports decides whether a default may be written over
// the stored value: only a setting that is certainly absent reads as missing.
TEST(SettingsRegistryScripted, ReadingTellsMissingFromUnreadable) {
  struct Case {
    const char* what;
    std::error_code open_status;
    std::error_code query_status;
    std::uint32_t type;
    std::error_code second_query_status;
    SettingFound found;
    std::error_code status;
  };
  const std::error_code ok;
  const std::vector<Case> cases = {
      {"text", ok, ok, kSz, ok, SettingFound::kText, ok},
      {"no key", SystemError::kFileNotFound, ok, kSz, ok, SettingFound::kMissing, ok},
      {"no value", ok, SystemError::kFileNotFound, kSz, ok, SettingFound::kMissing, ok},
      {"another type", ok, ok, platform::reg_type::kDword, ok, SettingFound::kMissing, ok},
      {"store locked at the open", SystemError::kLockViolation, ok, kSz, ok, SettingFound::kUnreadable,
       SystemError::kLockViolation},
      {"store corrupt at the open", SystemError::kRegistryCorrupt, ok, kSz, ok, SettingFound::kUnreadable,
       SystemError::kRegistryCorrupt},
      {"query failing", ok, SystemError::kRegistryIoFailed, kSz, ok, SettingFound::kUnreadable,
       SystemError::kRegistryIoFailed},
      {"value grew between the queries", ok, ok, kSz, SystemError::kMoreData, SettingFound::kUnreadable,
       SystemError::kMoreData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedRegistry registry;
    platform::ScopedOverride<platform::Registry> use(registry);
    registry.open_status = c.open_status;
    registry.query_status = c.query_status;
    registry.type = c.type;
    registry.size = 2;
    registry.second_query_status = c.second_query_status;
    const SettingRead read = ReadRegString(kHkeyLocalMachine, u"K", u"V");
    EXPECT_EQ(read.found, c.found);
    EXPECT_EQ(read.status, c.status);
    if (c.found == SettingFound::kText) {
      EXPECT_EQ(read.text, u"  ");
    }
    ASSERT_FALSE(registry.calls.empty());
    EXPECT_EQ(registry.calls.back(), "CloseKey") << "the key is closed whatever was found";
    EXPECT_EQ(registry.closed.size(), 1u);
  }
}

TEST(SettingsText, LatinOneBothWays) {
  EXPECT_EQ(ToRegistryText(u"A\u00FF\u0100\u4E2D"), "A\xFF??");
  EXPECT_EQ(FromRegistryText("A\xFF\x80"), u"A\u00FF\u0080");
  EXPECT_EQ(FromRegistryText(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

}  // namespace
}  // namespace dovel::config
