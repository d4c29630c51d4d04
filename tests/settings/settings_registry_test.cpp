#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/mod_registry.h"
#include "platform/core/current.h"
#include "platform/registry/registry_test_support.h"
#include "platform/registry/sqlite_registry.h"

namespace dovel::config {
namespace {

using platform::kHkeyLocalMachine;
using platform::reg_type::kDword;
using platform::reg_type::kSz;
using testing::ReadStored;
using testing::WriteStored;

constexpr const char* kComm = "Software\\Ostrel\\Vimra\\Communications";
constexpr const char16_t* kComm16 = u"Software\\Ostrel\\Vimra\\Communications";

// The real store in a file of the test's own, installed as the registry so
// that every handle the module leaves open shows.
class SettingsRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }
  void TearDown() override { EXPECT_EQ(store_.OpenHandleCount(), 0u) << "a key was left open"; }

  std::u16string Get(std::u16string_view name, std::u16string_view fallback = u"default") {
    return GetRegString(kHkeyLocalMachine, kComm16, name, fallback);
  }

  testing::TempRegistry temp_;
  platform::SqliteRegistry store_;
  platform::ScopedOverride<platform::Registry> use_store_{store_};
};

TEST_F(SettingsRegistryTest, TextIsCutAtItsFirstNulWhateverWayItWasStored) {
  struct Case {
    std::string stored;
    std::u16string read;
  };
  const std::vector<Case> cases = {
      {std::string("500\0", 4), u"500"},
      {std::string("500"), u"500"},  // no NUL stored: the whole value
      {std::string(), u""},          // empty, size 0: not the default
      {std::string("\0", 1), u""},   // empty, size 1
      {std::string("ab\0cd\0", 6), u"ab"},
      {std::string("\xE9t\xE9\0", 4), u"\u00E9t\u00E9"},  // Latin-1
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "V", kSz, cases[i].stored), 0);
    EXPECT_EQ(Get(u"v"), cases[i].read) << "case " << i;
  }
}

TEST_F(SettingsRegistryTest, AnythingButTextGivesTheDefault) {
  EXPECT_EQ(Get(u"StandardPollRate"), u"default") << "no store at all";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Other", kSz, "x"), 0);
  EXPECT_EQ(Get(u"StandardPollRate"), u"default") << "no such value";
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"Software\\Missing", u"Other", u"d"), u"d") << "no such key";
  const std::uint32_t dword = 250;
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate", kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            0);
  EXPECT_EQ(Get(u"StandardPollRate"), u"default");
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Expand", platform::reg_type::kExpandSz, "%X%"), 0);
  EXPECT_EQ(Get(u"Expand"), u"default");
}

TEST_F(SettingsRegistryTest, TheNulPositionMustFitASixteenBitInteger) {
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(40000, 'a')), 0);
  EXPECT_EQ(Get(u"Long").size(), 40000u) << "no NUL: the whole buffer, however long";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(32766, 'a') + '\0'), 0);
  EXPECT_EQ(Get(u"Long").size(), 32766u) << "NUL at 32767 still fits";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(32767, 'a') + '\0'), 0);
  EXPECT_EQ(Get(u"Long"), u"") << "NUL at 32768 overflows: empty, not the default";
}

TEST_F(SettingsRegistryTest, SavingWritesTextWithOneNulAndCreatesThePath) {
  SaveRegString(kHkeyLocalMachine, kComm16, u"StandardPollRate", u"500");
  auto stored = ReadStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate");
  ASSERT_EQ(stored.status, 0);
  EXPECT_EQ(stored.type, kSz);
  EXPECT_EQ(stored.bytes, std::string("500\0", 4));

  // Over a number, and with characters the 8-bit side cannot hold.
  const std::uint32_t dword = 7;
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Name", kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            0);
  SaveRegString(kHkeyLocalMachine, kComm16, u"Name", u"\u00E9\u20AC");
  stored = ReadStored(store_, kHkeyLocalMachine, kComm, "Name");
  EXPECT_EQ(stored.type, kSz);
  EXPECT_EQ(stored.bytes, std::string("\xE9?\0", 3));
  EXPECT_EQ(Get(u"Name"), u"\u00E9?");

  SaveRegString(kHkeyLocalMachine, kComm16, u"Empty", u"");
  EXPECT_EQ(ReadStored(store_, kHkeyLocalMachine, kComm, "Empty").bytes, std::string("\0", 1));
}

TEST_F(SettingsRegistryTest, AppSettingsLiveBelowTheCompanyKey) {
  SaveAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"5");
  EXPECT_EQ(ReadStored(store_, kHkeyLocalMachine, "Software\\Ostrel\\Vimra\\Setup", "WarningLevel").bytes,
            std::string("5\0", 2));
  EXPECT_EQ(GetAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"-1"), u"5");
  EXPECT_EQ(GetAppSetting(u"Vimra", u"Setup", u"Other", u"-1"), u"-1");
  EXPECT_EQ(GetAppSetting(u"Other", u"Setup", u"WarningLevel", u"-1"), u"-1");
}

TEST_F(SettingsRegistryTest, AStoreThatCannotBeWrittenIsIgnoredQuietly) {
  temp_.Use("/proc/version/registry.db");
  SaveAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"5");
  EXPECT_EQ(GetAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"-1"), u"-1");
}

// A registry whose answers the test dictates, for what the real store never
// does: a size no buffer can take, a value that changes between the queries.
class ScriptedRegistry final : public platform::Registry {
 public:
  std::int32_t open_status = 0;
  std::uint32_t type = kSz;
  std::uint32_t size = 0;
  std::int32_t second_query_status = 0;
  std::vector<std::string> calls;
  std::vector<platform::RegistryKey> closed;

  std::int32_t OpenKey(platform::RegistryKey, std::string_view, platform::RegistryKey& key) override {
    calls.push_back("OpenKey");
    key = open_status == 0 ? 0x4242 : 0;
    return open_status;
  }
  std::int32_t CreateKey(platform::RegistryKey, std::string_view, platform::RegistryKey& key) override {
    calls.push_back("CreateKey");
    key = 0;
    return 5;
  }
  std::int32_t QueryValue(platform::RegistryKey key, std::string_view, std::uint32_t* type_out, std::uint8_t* data,
                          std::uint32_t* size_out) override {
    calls.push_back(data == nullptr ? "Query" : "QueryInto" + std::to_string(*size_out));
    if (key == 0) return 6;
    if (type_out != nullptr) *type_out = type;
    if (data == nullptr) *size_out = size;
    return data == nullptr ? 0 : second_query_status;
  }
  std::int32_t SetValue(platform::RegistryKey, std::string_view, std::uint32_t, const std::uint8_t*,
                        std::uint32_t) override {
    calls.push_back("SetValue");
    return 6;
  }
  std::int32_t DeleteValue(platform::RegistryKey, std::string_view) override { return 6; }
  std::int32_t EnumKey(platform::RegistryKey, std::uint32_t, std::string&) override { return 6; }
  std::int32_t EnumValue(platform::RegistryKey, std::uint32_t, std::string&, std::uint32_t&) override { return 6; }
  std::int32_t CloseKey(platform::RegistryKey key) override {
    calls.push_back("CloseKey");
    closed.push_back(key);
    return key == 0 ? 6 : 0;
  }
};

TEST(SettingsRegistryScripted, TheSecondQueryIsNotCheckedAndTheKeyIsAlwaysClosed) {
  ScriptedRegistry registry;
  platform::ScopedOverride<platform::Registry> use(registry);
  // The value grew between the two queries: the buffer stays blanks.
  registry.size = 3;
  registry.second_query_status = platform::registry_error::kMoreData;
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"K", u"V", u"d"), u"   ");
  EXPECT_THAT(registry.calls, ::testing::ElementsAre("OpenKey", "Query", "QueryInto3", "CloseKey"));
  EXPECT_THAT(registry.closed, ::testing::ElementsAre(0x4242u));

  // A failed open still queries (on no key) and closes (no key).
  registry.calls.clear();
  registry.closed.clear();
  registry.open_status = 2;
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

TEST(SettingsText, LatinOneBothWays) {
  EXPECT_EQ(ToRegistryText(u"A\u00FF\u0100\u4E2D"), "A\xFF??");
  EXPECT_EQ(FromRegistryText("A\xFF\x80"), u"A\u00FF\u0080");
  EXPECT_EQ(FromRegistryText(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

}  // namespace
}  // namespace dovel::config
