// Where the system has no object registry, the process's own class table is
// the default factory.
#include "platform/automation/object_factory.h"

#include <gtest/gtest.h>

namespace dovel::platform::automation {
namespace {

TEST(ClassTable, TheProcessTableIsTheDefaultFactoryAndTestsCanOverrideIt) {
  EXPECT_EQ(&CurrentObjectFactory(), &ProcessClassTable());
  ClassTable replacement;
  {
    ScopedOverride<ObjectFactory> use(replacement);
    EXPECT_EQ(&CurrentObjectFactory(), &replacement);
  }
  EXPECT_EQ(&CurrentObjectFactory(), &ProcessClassTable());
}

}  // namespace
}  // namespace dovel::platform::automation
