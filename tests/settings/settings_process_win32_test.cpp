// What the Windows process facts add: the error mode a server started by
// COM runs with.

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/process/process_info.h"

namespace dovel::platform {
namespace {

TEST(ProcessInfoWin32, ErrorBoxesAreSuppressed) {
  const UINT before = SetErrorMode(0);
  SuppressErrorDialogs();
  const UINT after = GetErrorMode();
  SetErrorMode(before);
  constexpr UINT kWanted = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
  EXPECT_EQ(after & kWanted, kWanted);
}

}  // namespace
}  // namespace dovel::platform
