// The COM classes of the server in-process, on virtual time: the plumbing
// that an out-of-process client cannot see.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <olectl.h>

#include "com/queue_object_fixture.h"
#include "com/win32/com_client_support.h"
#include "com/win32/com_msg_queue.h"
#include "platform/com_server/connection_point.h"
#include "platform/com_server/server_lifetime.h"

namespace dovel::testing {
namespace {

using platform::com_server::ServerLifetime;

constexpr DISPID kHeartbeat = 4;
constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BAu);  // the client process is gone

class ComQueueObject : public QueueObjectTest {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  static void TearDownTestSuite() { CoUninitialize(); }

  // Whatever a test made and released, no COM object of ours may be left.
  void TearDown() override {
    if (!leaves_an_object_) {
      EXPECT_TRUE(ServerLifetime::CanUnload());
    }
  }

  static ComPtr<_clsMsgQueue> NewComQueue() {
    // The ComPtr takes a reference of its own (this WRL's Attach would too).
    auto* created = com::win32::ComMsgQueue::Create();
    ComPtr<_clsMsgQueue> queue(static_cast<_clsMsgQueue*>(created));
    if (created != nullptr) created->Release();
    return queue;
  }

  static void ArmHeartbeat(_clsMsgQueue* queue, LONG interval) {
    ComPtr<IDispatch> timer;
    ASSERT_EQ(queue->get_HeartbeatTimer(timer.GetAddressOf()), S_OK);
    ComPtr<_QueueTimer> typed;
    ASSERT_EQ(timer.As(&typed), S_OK);
    ASSERT_EQ(typed->put_Interval(interval), S_OK);
    ASSERT_EQ(typed->put_Enabled(VARIANT_TRUE), S_OK);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    ASSERT_EQ(typed->get_Enabled(&enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_TRUE);
  }

  bool leaves_an_object_ = false;
};

TEST_F(ComQueueObject, SinkOfADeadClientIsDroppedAtItsFirstFailedDelivery) {
  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ASSERT_TRUE(queue);
  Listener healthy(queue.Get()), dead(queue.Get()), failing(queue.Get());
  ASSERT_EQ(dead.status, S_OK);
  dead->invoke_result = kServerUnavailable;
  failing->invoke_result = E_FAIL;  // a handler that failed: its client is still there
  ArmHeartbeat(queue.Get(), 1000);

  loop_.AdvanceMilliseconds(1000);
  EXPECT_EQ(dead->Count(kHeartbeat), 1);
  loop_.AdvanceMilliseconds(2000);
  EXPECT_EQ(healthy->Count(kHeartbeat), 3);
  EXPECT_EQ(failing->Count(kHeartbeat), 3);
  EXPECT_EQ(dead->Count(kHeartbeat), 1);
  EXPECT_EQ(dead.Disconnect(), CONNECT_E_NOCONNECTION);  // already gone
  queue->UnloadQueue();
}

TEST_F(ComQueueObject, ConnectionPointAnswersForTheEventInterfaceOnly) {
  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(queue.As(&container), S_OK);

  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.GetAddressOf()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID___clsMsgQueue, point.GetAddressOf()), S_OK);
  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID___clsMsgQueue);
  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(point->GetConnectionPointContainer(back.GetAddressOf()), S_OK);
  EXPECT_EQ(back.Get(), container.Get());

  // Exactly one point to enumerate.
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.GetAddressOf()), S_OK);
  IConnectionPoint* found[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, found, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  found[0]->Release();
  EXPECT_EQ(points->Next(1, found, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  // An object that cannot take calls (no IDispatch) cannot connect.
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(points.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
  queue->UnloadQueue();
}

TEST_F(ComQueueObject, AnswersForItsOwnInterfacesWithOneIdentity) {
  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ComPtr<IUnknown> from_queue, from_dispatch;
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(queue.As(&dispatch), S_OK);
  ASSERT_EQ(queue.As(&from_queue), S_OK);
  ASSERT_EQ(dispatch.As(&from_dispatch), S_OK);
  EXPECT_EQ(from_queue.Get(), from_dispatch.Get());
  ComPtr<IPersist> persist;
  EXPECT_EQ(queue.As(&persist), E_NOINTERFACE);

  ComPtr<IProvideClassInfo> class_info;
  ASSERT_EQ(queue.As(&class_info), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(class_info->GetClassInfo(info.GetAddressOf()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, CLSID_clsMsgQueue);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  info->ReleaseTypeAttr(attributes);
  queue->UnloadQueue();
}

// Last: it leaves a queue object running in this process, as it should.
TEST_F(ComQueueObject, ObjectReleasedWithoutUnloadKeepsRunningAndKeepsTheServer) {
  leaves_an_object_ = true;
  ASSERT_TRUE(ServerLifetime::CanUnload());
  {
    ComPtr<_clsMsgQueue> queue = NewComQueue();
    queue->UnloadQueue();
  }
  EXPECT_TRUE(ServerLifetime::CanUnload());

  {
    ComPtr<_clsMsgQueue> queue = NewComQueue();
    ComPtr<IDispatch> timer;
    ASSERT_EQ(queue->get_WorkerTimer(timer.GetAddressOf()), S_OK);
  }
  // Its engine still holds it: the module must stay.
  EXPECT_FALSE(ServerLifetime::CanUnload());
}

}  // namespace
}  // namespace dovel::testing
