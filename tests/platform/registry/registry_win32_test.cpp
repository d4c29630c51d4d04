// The Win32 registry through the Registry interface, against the system's
// own registry (Wine's when cross-built), below a key of this process that
// is deleted afterwards.

#include <windows.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/registry/registry.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr const char* kParent = "Software\\DovelTests";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_path_ = std::string(kParent) + "\\" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(registry_.CreateKey(kHkeyCurrentUser, root_path_, root_), std::error_code());
    ASSERT_NE(root_, 0u);
  }

  void TearDown() override {
    EXPECT_EQ(registry_.CloseKey(root_), std::error_code());
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, root_path_.c_str()), ERROR_SUCCESS);
    RegDeleteKeyA(HKEY_CURRENT_USER, kParent);  // only once no other run uses it
    HKEY left = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, root_path_.c_str(), 0, KEY_READ, &left), ERROR_SUCCESS);
  }

  std::error_code Set(RegistryKey key, std::string_view name, std::uint32_t type, std::string_view bytes) {
    return registry_.SetValue(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                              static_cast<std::uint32_t>(bytes.size()));
  }

  Registry& registry_ = SystemDefault<Registry>();
  std::string root_path_;
  RegistryKey root_ = 0;
};

TEST_F(Win32RegistryTest, CreateMakesTheWholePathAndOpenFindsOnlyWhatExists) {
  RegistryKey key = 0x55;
  EXPECT_EQ(registry_.OpenKey(root_, "A\\B\\C", key), SystemError::kFileNotFound);
  EXPECT_EQ(key, 0u);

  ASSERT_EQ(registry_.CreateKey(root_, "A\\B\\C", key), std::error_code());
  EXPECT_NE(key, 0u);
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());

  ASSERT_EQ(registry_.OpenKey(kHkeyCurrentUser, root_path_ + "\\A\\B", key), std::error_code())
      << "through a predefined root";
  RegistryKey deeper = 0;
  EXPECT_EQ(registry_.OpenKey(key, "C", deeper), std::error_code());
  EXPECT_EQ(registry_.CloseKey(deeper), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
}

TEST_F(Win32RegistryTest, AnEmptyPathOpensANewHandleToTheKeyItself) {
  RegistryKey same = 0;
  ASSERT_EQ(registry_.OpenKey(root_, "", same), std::error_code());
  EXPECT_NE(same, root_) << "closing both must not close one handle twice";
  RegistryKey created = 0;
  ASSERT_EQ(registry_.CreateKey(root_, "", created), std::error_code());
  EXPECT_NE(created, root_);
  ASSERT_EQ(Set(same, "Through", reg_type::kSz, std::string("x\0", 2)), std::error_code());
  EXPECT_EQ(registry_.CloseKey(same), std::error_code());
  EXPECT_EQ(registry_.CloseKey(created), std::error_code());
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.QueryValue(root_, "Through", nullptr, nullptr, &size), std::error_code())
      << "root_ is still open";
  EXPECT_EQ(size, 2u);
}

TEST_F(Win32RegistryTest, HandlesThatAreNotOpenGive6AndRootsNeedNoClosing) {
  RegistryKey key = 0;
  EXPECT_EQ(registry_.CloseKey(0), SystemError::kInvalidHandle);
  EXPECT_EQ(registry_.CloseKey(kHkeyLocalMachine), std::error_code());
  EXPECT_EQ(registry_.CloseKey(kHkeyCurrentUser), std::error_code());
  ASSERT_EQ(registry_.OpenKey(kHkeyCurrentUser, root_path_, key), std::error_code())
      << "the root still works after its 'close'";
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  EXPECT_EQ(registry_.OpenKey(RegistryKey{0x7654321}, "x", key), SystemError::kInvalidHandle);
  EXPECT_EQ(key, 0u);
}

TEST_F(Win32RegistryTest, ValuesRoundTripWithTheirTypeAndExactBytes) {
  const std::string text("hello\0", 6);
  const std::uint32_t number = 0xA1B2C3D4u;
  const std::string binary("\x00\xFF\x7F\x80", 4);
  ASSERT_EQ(Set(root_, "Text", reg_type::kSz, text), std::error_code());
  ASSERT_EQ(Set(root_, "Number", reg_type::kDword, std::string_view(reinterpret_cast<const char*>(&number), 4)),
            std::error_code());
  ASSERT_EQ(Set(root_, "Binary", reg_type::kBinary, binary), std::error_code());
  ASSERT_EQ(Set(root_, "Empty", reg_type::kBinary, {}), std::error_code());

  for (const auto& [name, type, bytes] : std::vector<std::tuple<std::string, std::uint32_t, std::string>>{
           {"Text", reg_type::kSz, text},
           {"Number", reg_type::kDword, std::string(reinterpret_cast<const char*>(&number), 4)},
           {"Binary", reg_type::kBinary, binary},
           {"Empty", reg_type::kBinary, ""}}) {
    SCOPED_TRACE(name);
    std::uint32_t stored_type = 99;
    std::uint32_t size = 0;
    ASSERT_EQ(registry_.QueryValue(root_, name, &stored_type, nullptr, &size), std::error_code());
    EXPECT_EQ(stored_type, type);
    ASSERT_EQ(size, bytes.size());
    std::string read(size, '?');
    ASSERT_EQ(registry_.QueryValue(root_, name, nullptr, reinterpret_cast<std::uint8_t*>(read.data()), &size),
              std::error_code());
    EXPECT_EQ(read, bytes);
  }

  // Replacing a value replaces its type too.
  ASSERT_EQ(Set(root_, "Number", reg_type::kSz, std::string("7\0", 2)), std::error_code());
  std::uint32_t type = 0;
  EXPECT_EQ(registry_.QueryValue(root_, "Number", &type, nullptr, nullptr), std::error_code());
  EXPECT_EQ(type, reg_type::kSz);
}

TEST_F(Win32RegistryTest, ATooSmallBufferGives234AndTheSizeNeeded) {
  ASSERT_EQ(Set(root_, "Text", reg_type::kSz, std::string("hello\0", 6)), std::error_code());
  std::uint8_t buffer[2] = {};
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(registry_.QueryValue(root_, "Text", nullptr, buffer, &size), SystemError::kMoreData);
  EXPECT_EQ(size, 6u);
}

TEST_F(Win32RegistryTest, MissingValuesGive2AndDeletingRemovesOnce) {
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.QueryValue(root_, "Nothing", nullptr, nullptr, &size), SystemError::kFileNotFound);
  EXPECT_EQ(registry_.DeleteValue(root_, "Nothing"), SystemError::kFileNotFound);
  ASSERT_EQ(Set(root_, "Gone", reg_type::kSz, std::string("x\0", 2)), std::error_code());
  EXPECT_EQ(registry_.DeleteValue(root_, "Gone"), std::error_code());
  EXPECT_EQ(registry_.DeleteValue(root_, "Gone"), SystemError::kFileNotFound);
  EXPECT_EQ(registry_.QueryValue(root_, "Gone", nullptr, nullptr, &size), SystemError::kFileNotFound);
}

TEST_F(Win32RegistryTest, BadBufferArgumentsGive87) {
  std::uint8_t byte = 1;
  EXPECT_EQ(registry_.SetValue(root_, "V", reg_type::kBinary, nullptr, 4), SystemError::kInvalidParameter);
  EXPECT_EQ(registry_.QueryValue(root_, "V", nullptr, nullptr, nullptr), SystemError::kFileNotFound)
      << "nothing was stored";
  ASSERT_EQ(registry_.SetValue(root_, "V", reg_type::kBinary, &byte, 1), std::error_code());
  EXPECT_EQ(registry_.QueryValue(root_, "V", nullptr, &byte, nullptr), SystemError::kInvalidParameter);
}

TEST_F(Win32RegistryTest, NamesMatchWithoutCaseKeepTheirOwnAndEndAtANul) {
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(root_, "Sub\\Child", key), std::error_code());
  ASSERT_EQ(Set(key, "MixedCase", reg_type::kSz, std::string("v\0", 2)), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());

  ASSERT_EQ(registry_.OpenKey(root_, "SUB\\child", key), std::error_code());
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.QueryValue(key, "mixedCASE", nullptr, nullptr, &size), std::error_code());
  EXPECT_EQ(registry_.QueryValue(key, std::string_view("MixedCase\0tail", 14), nullptr, nullptr, &size),
            std::error_code());
  std::string name;
  std::uint32_t type = 0;
  ASSERT_EQ(registry_.EnumValue(key, 0, name, type), std::error_code());
  EXPECT_EQ(name, "MixedCase");
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());

  ASSERT_EQ(registry_.CreateKey(root_, "sub\\CHILD\\More", key), std::error_code()) << "opens the existing keys";
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  ASSERT_EQ(registry_.EnumKey(root_, 0, name), std::error_code());
  EXPECT_EQ(name, "Sub");
}

TEST_F(Win32RegistryTest, EnumerationListsEveryKeyAndValueThenGives259) {
  for (const char* sub : {"beta", "Alpha", "gamma"}) {
    RegistryKey key = 0;
    ASSERT_EQ(registry_.CreateKey(root_, sub, key), std::error_code());
    EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  }
  std::vector<std::string> keys;
  std::string name;
  std::uint32_t index = 0;
  for (; !registry_.EnumKey(root_, index, name); ++index) keys.push_back(name);
  EXPECT_THAT(keys, ElementsAre("Alpha", "beta", "gamma")) << "in case-insensitive name order";
  EXPECT_EQ(registry_.EnumKey(root_, index, name), SystemError::kNoMoreItems);

  ASSERT_EQ(Set(root_, "One", reg_type::kSz, std::string("1\0", 2)), std::error_code());
  ASSERT_EQ(Set(root_, "Two", reg_type::kBinary, "2"), std::error_code());
  std::vector<std::pair<std::string, std::uint32_t>> values;
  std::uint32_t type = 0;
  for (index = 0; !registry_.EnumValue(root_, index, name, type); ++index) values.emplace_back(name, type);
  EXPECT_THAT(values, UnorderedElementsAre(std::pair<std::string, std::uint32_t>{"One", reg_type::kSz},
                                           std::pair<std::string, std::uint32_t>{"Two", reg_type::kBinary}));
  EXPECT_EQ(registry_.EnumValue(root_, index, name, type), SystemError::kNoMoreItems);
}

}  // namespace
}  // namespace dovel::platform
