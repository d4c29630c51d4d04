// Reading and writing one string setting: defaults, empty text, the first
// NUL, other types, and writes that are refused without a trace.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/mod_registry.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_test_support.h"

namespace dovel::config {
namespace {

using testing::ReadStored;
using testing::WriteStored;

constexpr auto kRoot = platform::kHkeyLocalMachine;
constexpr char kKey[] = "Software\\Ostrel\\Vimra\\Communications";

class RegistryAccess : public ::testing::Test {
 protected:
  void Store(std::uint32_t type, std::string_view bytes) {
    ASSERT_EQ(WriteStored(registry_, kRoot, kKey, "StandardPollRate", type, bytes), 0);
  }
  std::u16string Read() { return GetAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"-1"); }

  testing::TempRegistry temp_;
  platform::Registry& registry_ = platform::CurrentRegistry();
};

TEST_F(RegistryAccess, TextReadsUpToItsFirstNulWhateverTheStoredSize) {
  Store(platform::reg_type::kSz, std::string("500\0", 4));
  EXPECT_EQ(Read(), u"500");
  Store(platform::reg_type::kSz, "500");
  EXPECT_EQ(Read(), u"500");
  Store(platform::reg_type::kSz, std::string("25\0" "0", 4));
  EXPECT_EQ(Read(), u"25");
}

TEST_F(RegistryAccess, EmptyTextIsNotTheDefault) {
  Store(platform::reg_type::kSz, std::string("\0", 1));
  EXPECT_EQ(Read(), u"");
  Store(platform::reg_type::kSz, "");
  EXPECT_EQ(Read(), u"");
}

TEST_F(RegistryAccess, MissingKeysValuesAndOtherTypesReadAsTheDefaultAndCreateNothing) {
  EXPECT_EQ(Read(), u"-1");
  EXPECT_FALSE(std::filesystem::exists(temp_.path()));
  Store(platform::reg_type::kDword, std::string("\xF4\x01\0\0", 4));
  EXPECT_EQ(Read(), u"-1");
  EXPECT_EQ(GetAppSetting(u"Vimra", u"Communications", u"NoSuchValue", u"fallback"), u"fallback");
}

TEST_F(RegistryAccess, WritesMakeThePathAndReplaceAnyTypeWithNulTerminatedText) {
  SaveAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"500");
  const testing::StoredValue written = ReadStored(registry_, kRoot, kKey, "StandardPollRate");
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.type, platform::reg_type::kSz);
  EXPECT_EQ(written.bytes, std::string("500\0", 4));

  Store(platform::reg_type::kDword, std::string("\x05\0\0\0", 4));
  SaveAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"5");
  const testing::StoredValue replaced = ReadStored(registry_, kRoot, kKey, "StandardPollRate");
  EXPECT_EQ(replaced.type, platform::reg_type::kSz);
  EXPECT_EQ(replaced.bytes, std::string("5\0", 2));
}

TEST_F(RegistryAccess, TextBeyondEightBitsIsStoredAsQuestionMarks) {
  SaveAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"caf\u00E9 \u20AC");
  EXPECT_EQ(Read(), u"caf\u00E9 ?");
}

TEST_F(RegistryAccess, ARefusedWriteLeavesNoTraceAndRaisesNothing) {
  temp_.Use("/proc/version/registry.db");  // below a file: nobody can create it
  SaveAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"500");
  EXPECT_EQ(Read(), u"-1");
  temp_.Use(temp_.path());
  EXPECT_FALSE(std::filesystem::exists(temp_.path()));
}

}  // namespace
}  // namespace dovel::config
