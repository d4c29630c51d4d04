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
