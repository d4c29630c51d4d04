// Creation by programmatic identifier through the system's class registry.
// The Wine prefix the tests run in registers the system's scripting runtime,
// whose dictionary serves as an outside component.
#include "platform/automation/object_factory.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/automation/inert_object.h"

namespace dovel::platform::automation {
namespace {

TEST(ComObjectFactory, TheDefaultFactoryIsTheSystemsNotTheProcessTable) {
  EXPECT_NE(&CurrentObjectFactory(), static_cast<ObjectFactory*>(&ProcessClassTable()));
  ProcessClassTable().Register("Dovel.OnlyInThisProcess", [] { return std::make_shared<InertObject>(); });
  ObjectRef object;
  EXPECT_EQ(CurrentObjectFactory().CreateObject("Dovel.OnlyInThisProcess", object), RuntimeError::kCannotCreateObject);
  EXPECT_EQ(CurrentObjectFactory().CreateObject("", object), RuntimeError::kCannotCreateObject);
  EXPECT_EQ(CurrentObjectFactory().CreateObject("No.Such.Class", object), RuntimeError::kCannotCreateObject);
  EXPECT_EQ(object, nullptr);
  ProcessClassTable().Unregister("Dovel.OnlyInThisProcess");
}

// Each thread in its own apartment, joined by the first creation on it.
void UseADictionary() {
  ObjectRef dictionary;
  ASSERT_EQ(SystemDefault<ObjectFactory>().CreateObject("Scripting.Dictionary", dictionary), std::error_code());
  ASSERT_NE(dictionary, nullptr);
  Variant add[] = {std::u16string(u"key"), std::int32_t{5}};
  EXPECT_EQ(dictionary->Call(u"Add", add, nullptr), std::error_code());
  Variant count;
  EXPECT_EQ(dictionary->GetProperty(u"Count", count), std::error_code());
  EXPECT_EQ(count, Variant(std::int32_t{1}));
  Variant key[] = {std::u16string(u"key")};
  Variant found;
  EXPECT_EQ(dictionary->Call(u"Exists", key, &found), std::error_code());
  EXPECT_EQ(found, Variant(true));
  Variant item;
  EXPECT_EQ(dictionary->Call(u"Item", key, &item), std::error_code());
  EXPECT_EQ(item, Variant(std::int32_t{5}));
  // The component's own error: the key is there already.
  EXPECT_NE(dictionary->Call(u"Add", add, nullptr), std::error_code());
  EXPECT_EQ(dictionary->Call(u"NoSuchMethod", key, nullptr), RuntimeError::kMemberNotFound);
}

TEST(ComObjectFactory, CreatesARegisteredComponentOnAnyThread) {
  UseADictionary();
  std::thread other([] { UseADictionary(); });
  other.join();
}

}  // namespace
}  // namespace dovel::platform::automation
