#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/guid/guid_source.h"

namespace dovel::platform {
namespace {

// Fresh identifiers are random (version 4, RFC 4122 variant) as they read:
// {xxxxxxxx-xxxx-4xxx-[89AB]xxx-xxxxxxxxxxxx}, upper case, never repeated.
TEST(GuidSource, MakesWellFormedRandomIdentifiers) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 2000; ++i) {
    Guid guid;
    ASSERT_EQ(CurrentGuidSource().CreateGuid(guid), std::error_code());
    char16_t text[39] = {};
    ASSERT_EQ(StringFromGuid2(guid, text, 39), 39);
    const std::u16string id(text, 38);
    ASSERT_EQ(id[0], u'{');
    ASSERT_EQ(id[37], u'}');
    for (const std::size_t dash : {9u, 14u, 19u, 24u}) ASSERT_EQ(id[dash], u'-') << i;
    EXPECT_EQ(id[15], u'4') << "version digit, in " << std::string(id.begin(), id.end());
    EXPECT_NE(std::u16string(u"89AB").find(id[20]), std::u16string::npos) << std::string(id.begin(), id.end());
    for (const char16_t c : id) {
      ASSERT_TRUE(c == u'{' || c == u'}' || c == u'-' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    }
    EXPECT_TRUE(seen.insert(id).second);
  }
}

}  // namespace
}  // namespace dovel::platform
