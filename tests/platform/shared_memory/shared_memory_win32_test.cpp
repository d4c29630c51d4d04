// What the Win32 implementation does beyond forwarding each call: names the
// system would take ('/' is legal in a Windows object name) are refused as on
// POSIX, a new block reports 0 whatever the thread's last error was, and the
// lock is a named mutex kept exclusive per handle although a Win32 mutex is
// recursive for its owning thread.

#include <windows.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support.h"

namespace dovel::platform::shm_test {
namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

using SharedMemoryWin32 = SharedMemoryTest;

TEST_F(SharedMemoryWin32, NamesTheSystemWouldTakeAreRefusedAndNothingIsCreated) {
  const std::string token = ProcessToken() + "bad";
  for (const std::string& name : {token + "/inner", "Local\\" + token, "Global\\" + token, token + "\\back"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Create(name).status, SystemError::kInvalidName);
    EXPECT_EQ(Open(name).status, SystemError::kInvalidName);
  }
  for (const std::string& raw : {token + "/inner", token, token + "\\back"}) {
    HANDLE left = OpenFileMappingW(FILE_MAP_READ, FALSE, Wide(raw).c_str());
    EXPECT_EQ(left, nullptr) << raw;
    if (left != nullptr) CloseHandle(left);
  }
}

TEST_F(SharedMemoryWin32, StatusIsTheOutcomeOfThisCallNotAnEarlierError) {
  const std::string name = UniqueName("status");
  SetLastError(ERROR_ACCESS_DENIED);
  const OpenResult created = Create(name);
  ASSERT_NE(created.handle, 0u);
  EXPECT_EQ(created.status, std::error_code());
  std::memcpy(Map(created.handle), "kept", 4);

  const OpenResult again = memory_.CreateOrOpen(name, 4 * kBlockSize);
  EXPECT_EQ(again.status, SystemError::kAlreadyExists);
  ASSERT_NE(again.handle, 0u);
  const MapResult view = memory_.Map(again.handle);
  ASSERT_NE(view.view, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.view), 4), "kept");
  memory_.Unmap(view.view);
  memory_.Close(again.handle);
}

TEST_F(SharedMemoryWin32, TwoHandlesOnOneThreadExcludeEachOther) {
  const std::string name = UniqueName("lock");
  const BlockHandle first = Create(name).handle;
  const BlockHandle second = Open(name).handle;
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);

  ASSERT_EQ(memory_.Lock(first, 0), std::error_code());
  EXPECT_EQ(memory_.Lock(second, 0), SystemError::kWaitTimeout) << "the mutex alone would let the thread in";
  EXPECT_EQ(memory_.Lock(first, 0), std::error_code()) << "a handle holds the lock once";
  memory_.Unlock(first);
  ASSERT_EQ(memory_.Lock(second, 0), std::error_code()) << "one Unlock releases a handle's hold";
  EXPECT_EQ(memory_.Lock(first, 0), SystemError::kWaitTimeout);

  memory_.Close(second);
  EXPECT_EQ(memory_.Lock(first, 0), std::error_code()) << "closing the holding handle releases the lock";
  memory_.Unlock(first);
}

TEST_F(SharedMemoryWin32, LocksOfDifferentBlocksAreIndependent) {
  const BlockHandle a = Create(UniqueName("lock-a")).handle;
  const BlockHandle b = Create(UniqueName("lock-b")).handle;
  ASSERT_EQ(memory_.Lock(a, 0), std::error_code());
  EXPECT_EQ(memory_.Lock(b, 0), std::error_code());
  memory_.Unlock(b);
  memory_.Unlock(a);
}

TEST_F(SharedMemoryWin32, LockOfAHandleThatIsNotOpenGives6) {
  const BlockHandle closed = memory_.CreateOrOpen(UniqueName("lock-closed"), kBlockSize).handle;
  memory_.Close(closed);
  EXPECT_EQ(memory_.Lock(closed, 0), SystemError::kInvalidHandle);
  EXPECT_EQ(memory_.Lock(0, 0), SystemError::kInvalidHandle);
  memory_.Unlock(closed);
  memory_.Unlock(0);
}

// Another holder of the block's mutex, as another process would take it, on
// a thread that ends without releasing it: the way a killed holder leaves it.
TEST_F(SharedMemoryWin32, AHolderElsewhereBlocksAndItsAbandonedLockGoesToTheNextTaker) {
  const std::string name = UniqueName("lock-abandoned");
  const BlockHandle handle = Create(name).handle;
  ASSERT_NE(handle, 0u);

  std::promise<bool> taken;
  std::promise<void> may_end;
  std::thread holder([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, (Wide(name) + L"/lock").c_str());
    taken.set_value(mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0);
    may_end.get_future().wait();
    CloseHandle(mutex);  // the ownership stays with the ending thread
  });
  ASSERT_TRUE(taken.get_future().get());
  EXPECT_EQ(memory_.Lock(handle, 0), SystemError::kWaitTimeout);
  may_end.set_value();
  holder.join();

  EXPECT_EQ(memory_.Lock(handle, 0), std::error_code());
  memory_.Unlock(handle);
  EXPECT_EQ(memory_.Lock(handle, 0), std::error_code()) << "released normally this time";
  memory_.Unlock(handle);
}

}  // namespace
}  // namespace dovel::platform::shm_test
