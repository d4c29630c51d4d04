#include "platform/core/error_codes.h"

#include <gtest/gtest.h>

namespace dovel {
namespace {

TEST(ErrorCodes, TheSameNumberInTwoSpacesIsTwoDifferentStatuses) {
  const std::error_code not_attached = RuntimeError::kTypeMismatch;  // 13 raised by a procedure
  const std::error_code invalid_data = SystemStatus(13);             // 13 from the system
  EXPECT_NE(not_attached, invalid_data);
  EXPECT_EQ(ErrorNumber(not_attached), ErrorNumber(invalid_data));

  const std::error_code denied = SystemError::kAccessDenied;
  EXPECT_NE(denied, std::error_code(RuntimeError::kInvalidProcedureCall));
  EXPECT_EQ(ErrorNumber(denied), 5);
}

TEST(ErrorCodes, NumbersFromTheEdgeComeInAsTheirSpaceAndZeroIsSuccess) {
  EXPECT_EQ(SystemStatus(258), SystemError::kWaitTimeout);
  EXPECT_EQ(RuntimeStatus(380), RuntimeError::kInvalidPropertyValue);
  EXPECT_EQ(HResultStatus(static_cast<std::int32_t>(0x8001010Eu)), HResult::kWrongThread);
  for (const std::error_code success : {SystemStatus(0), RuntimeStatus(0), HResultStatus(0)}) {
    EXPECT_FALSE(success);
    EXPECT_EQ(ErrorNumber(success), 0);
  }
}

TEST(ErrorCodes, EveryStatusHasReadableText) {
  EXPECT_EQ(std::error_code(SystemError::kWaitTimeout).message(), "still taken after the wait");
  EXPECT_EQ(SystemStatus(99999).message(), "system error 99999");
  EXPECT_EQ(RuntimeStatus(12345).message(), "runtime error 12345");
  EXPECT_EQ(HResultStatus(static_cast<std::int32_t>(0x80004005u)).message(), "HRESULT 0x80004005");
  EXPECT_STREQ(std::error_code(HResult::kNoConnection).category().name(), "dovel.hresult");
}

}  // namespace
}  // namespace dovel
