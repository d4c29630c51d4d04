// What a queue object hands out, seen from a client in another process.
#include <gtest/gtest.h>

#include <vector>

#include "com/win32/com_client_support.h"

namespace dovel::testing {
namespace {

using Getter = HRESULT (STDMETHODCALLTYPE _clsMsgQueue::*)(IDispatch**);

class QueueObjectIdentity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  static void TearDownTestSuite() { CoUninitialize(); }
};

// One COM object per engine timer: every read of a timer property gives it,
// and each timer has its own.
TEST_F(QueueObjectIdentity, EveryReadOfATimerGivesTheSameObject) {
  ComPtr<_clsMsgQueue> queue;
  ASSERT_EQ(CreateQueue(queue), S_OK);
  std::vector<ComPtr<IUnknown>> seen;  // held, so that no address is reused
  for (const Getter getter : {&_clsMsgQueue::get_HeartbeatTimer, &_clsMsgQueue::get_WorkerTimer,
                              &_clsMsgQueue::get_TimeoutTimer, &_clsMsgQueue::get_DiagRefreshTimer}) {
    ComPtr<IDispatch> one, two;
    ASSERT_EQ((queue.get()->*getter)(one.put()), S_OK);
    ASSERT_EQ((queue.get()->*getter)(two.put()), S_OK);
    ASSERT_TRUE(one && two);
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(one->QueryInterface(IID_IUnknown, first.put_void()), S_OK);
    ASSERT_EQ(two->QueryInterface(IID_IUnknown, second.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    for (const ComPtr<IUnknown>& other : seen) EXPECT_NE(other.get(), first.get());
    seen.push_back(std::move(first));
  }
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

}  // namespace
}  // namespace dovel::testing
