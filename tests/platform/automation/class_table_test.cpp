#include "platform/automation/object_factory.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/automation/inert_object.h"

namespace dovel::platform::automation {
namespace {

TEST(ClassTable, CreatesANewObjectPerCall) {
  ClassTable table;
  table.Register("Test.Nothing", [] { return std::make_shared<InertObject>(); });
  ObjectRef first;
  ObjectRef second;
  ASSERT_EQ(table.CreateObject("Test.Nothing", first), std::error_code());
  ASSERT_EQ(table.CreateObject("Test.Nothing", second), std::error_code());
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(first, second);
}

TEST(ClassTable, FailuresAreCannotCreateAndLeaveTheReferenceAlone) {
  ClassTable table;
  table.Register("Test.Null", [] { return ObjectRef(); });
  table.Register("Test.Throws", []() -> ObjectRef { throw std::runtime_error("component failed to start"); });
  table.Register("Test.Nothing", [] { return std::make_shared<InertObject>(); });

  const auto before = std::make_shared<InertObject>();
  for (const char* prog_id : {"Test.Unknown", "Test.Null", "Test.Throws", ""}) {
    ObjectRef object = before;
    EXPECT_EQ(table.CreateObject(prog_id, object), RuntimeError::kCannotCreateObject) << prog_id;
    EXPECT_EQ(object, before) << prog_id;
  }
}

TEST(ClassTable, UnregisterAndReRegister) {
  ClassTable table;
  int made_by = 0;
  table.Register("Test.Class", [&] {
    made_by = 1;
    return std::make_shared<InertObject>();
  });
  table.Register("Test.Class", [&] {
    made_by = 2;
    return std::make_shared<InertObject>();
  });
  ObjectRef object;
  ASSERT_EQ(table.CreateObject("Test.Class", object), std::error_code());
  EXPECT_EQ(made_by, 2);

  table.Unregister("Test.Class");
  table.Unregister("Test.NeverRegistered");
  object.reset();
  EXPECT_EQ(table.CreateObject("Test.Class", object), RuntimeError::kCannotCreateObject);
  EXPECT_EQ(object, nullptr);
}

TEST(ClassTable, ACreatorMayCreateOtherObjects) {
  ClassTable table;
  table.Register("Test.Inner", [] { return std::make_shared<InertObject>(); });
  table.Register("Test.Outer", [&] {
    ObjectRef inner;
    return !table.CreateObject("Test.Inner", inner) ? inner : ObjectRef();
  });
  ObjectRef object;
  EXPECT_EQ(table.CreateObject("Test.Outer", object), std::error_code());
  EXPECT_NE(object, nullptr);
}

}  // namespace
}  // namespace dovel::platform::automation
