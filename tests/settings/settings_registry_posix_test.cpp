// The settings module against the SQLite store that stands in for the
// registry on POSIX.
#include <string>
#include <vector>

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
    ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "V", kSz, cases[i].stored), std::error_code());
    EXPECT_EQ(Get(u"v"), cases[i].read) << "case " << i;
  }
}

TEST_F(SettingsRegistryTest, AnythingButTextGivesTheDefault) {
  EXPECT_EQ(Get(u"StandardPollRate"), u"default") << "no store at all";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Other", kSz, "x"), std::error_code());
  EXPECT_EQ(Get(u"StandardPollRate"), u"default") << "no such value";
  EXPECT_EQ(GetRegString(kHkeyLocalMachine, u"Software\\Missing", u"Other", u"d"), u"d") << "no such key";
  const std::uint32_t dword = 250;
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate", kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            std::error_code());
  EXPECT_EQ(Get(u"StandardPollRate"), u"default");
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Expand", platform::reg_type::kExpandSz, "%X%"),
            std::error_code());
  EXPECT_EQ(Get(u"Expand"), u"default");
}

TEST_F(SettingsRegistryTest, TheNulPositionMustFitASixteenBitInteger) {
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(40000, 'a')), std::error_code());
  EXPECT_EQ(Get(u"Long").size(), 40000u) << "no NUL: the whole buffer, however long";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(32766, 'a') + '\0'),
            std::error_code());
  EXPECT_EQ(Get(u"Long").size(), 32766u) << "NUL at 32767 still fits";
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Long", kSz, std::string(32767, 'a') + '\0'),
            std::error_code());
  EXPECT_EQ(Get(u"Long"), u"") << "NUL at 32768 overflows: empty, not the default";
}

TEST_F(SettingsRegistryTest, SavingWritesTextWithOneNulAndCreatesThePath) {
  SaveRegString(kHkeyLocalMachine, kComm16, u"StandardPollRate", u"500");
  auto stored = ReadStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate");
  ASSERT_EQ(stored.status, std::error_code());
  EXPECT_EQ(stored.type, kSz);
  EXPECT_EQ(stored.bytes, std::string("500\0", 4));

  // Over a number, and with characters the 8-bit side cannot hold.
  const std::uint32_t dword = 7;
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kComm, "Name", kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            std::error_code());
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

}  // namespace
}  // namespace dovel::config
