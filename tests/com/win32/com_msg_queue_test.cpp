// The COM classes of the server in-process, on virtual time: the plumbing
// that an out-of-process client cannot see.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <olectl.h>

#include "com/queue_object_fixture.h"
#include "com/win32/com_client_support.h"
#include "com/win32/com_msg_queue.h"
#include "com/win32/published_type_library.h"
#include "platform/com_server/connection_point.h"
#include "platform/com_server/server_lifetime.h"
#include "platform/com_server/type_library.h"

namespace dovel::testing {
namespace {

using platform::com_server::ServerLifetime;

constexpr DISPID kHeartbeat = 4;
constexpr HRESULT kServerUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);  // the client process is gone

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

  static ComPtr<_clsMsgQueue> NewComQueue() { return com::win32::ComMsgQueue::Create(); }

  static void ArmHeartbeat(_clsMsgQueue* queue, LONG interval) {
    ComPtr<IDispatch> timer;
    ASSERT_EQ(queue->get_HeartbeatTimer(timer.put()), S_OK);
    ComPtr<_QueueTimer> typed;
    ASSERT_EQ(timer.As(typed), S_OK);
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
  Listener healthy(queue.get()), dead(queue.get()), failing(queue.get());
  ASSERT_EQ(dead.status, S_OK);
  dead->invoke_result = kServerUnavailable;
  failing->invoke_result = E_FAIL;  // a handler that failed: its client is still there
  ArmHeartbeat(queue.get(), 1000);

  loop_.AdvanceMilliseconds(1000);
  EXPECT_EQ(dead->Count(kHeartbeat), 1);
  loop_.AdvanceMilliseconds(2000);
  EXPECT_EQ(healthy->Count(kHeartbeat), 3);
  EXPECT_EQ(failing->Count(kHeartbeat), 3);
  EXPECT_EQ(dead->Count(kHeartbeat), 1);
  EXPECT_EQ(dead.Disconnect(), CONNECT_E_NOCONNECTION);  // already gone
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComQueueObject, ConnectionPointAnswersForTheEventInterfaceOnly) {
  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(queue.As(container), S_OK);

  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.put()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID___clsMsgQueue, point.put()), S_OK);
  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID___clsMsgQueue);
  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.get(), container.get());

  // Exactly one point to enumerate.
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* found[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, found, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  const ComPtr<IConnectionPoint> enumerated = ComPtr<IConnectionPoint>::Adopt(found[0]);
  IID enumerated_iid{};
  ASSERT_EQ(enumerated->GetConnectionInterface(&enumerated_iid), S_OK);
  EXPECT_EQ(enumerated_iid, DIID___clsMsgQueue);
  EXPECT_EQ(points->Next(1, found, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  // An object that cannot take calls (no IDispatch) cannot connect.
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(points.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComQueueObject, AnswersForItsOwnInterfacesWithOneIdentity) {
  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ComPtr<IUnknown> from_queue, from_dispatch;
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(queue.As(dispatch), S_OK);
  ASSERT_EQ(queue.As(from_queue), S_OK);
  ASSERT_EQ(dispatch.As(from_dispatch), S_OK);
  EXPECT_EQ(from_queue.get(), from_dispatch.get());
  ComPtr<IPersist> persist;
  EXPECT_EQ(queue.As(persist), E_NOINTERFACE);
  EXPECT_FALSE(persist);

  ComPtr<IProvideClassInfo> class_info;
  ASSERT_EQ(queue.As(class_info), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(class_info->GetClassInfo(info.put()), S_OK);
  platform::com_server::TypeAttributes attributes;
  ASSERT_EQ(platform::com_server::GetTypeAttributes(info.get(), attributes), S_OK);
  EXPECT_EQ(attributes->guid, CLSID_clsMsgQueue);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

// What the object describes itself with, the type library embedded in the
// module, is the one published to clients.
TEST_F(ComQueueObject, EmbeddedTypeLibraryIsThePublishedOne) {
  ComPtr<ITypeLib> embedded;
  ASSERT_EQ(platform::com_server::ModuleTypeLibrary(embedded), S_OK);
  ExpectPublishedTypeLibrary(embedded.get());

  ComPtr<_clsMsgQueue> queue = NewComQueue();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(queue->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  ComPtr<ITypeLib> containing;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(containing.put(), &index), S_OK);
  EXPECT_EQ(containing.get(), embedded.get());
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

// Last: it leaves a queue object running in this process, as it should.
TEST_F(ComQueueObject, ObjectReleasedWithoutUnloadKeepsRunningAndKeepsTheServer) {
  leaves_an_object_ = true;
  ASSERT_TRUE(ServerLifetime::CanUnload());
  {
    ComPtr<_clsMsgQueue> queue = NewComQueue();
    EXPECT_EQ(queue->UnloadQueue(), S_OK);
  }
  EXPECT_TRUE(ServerLifetime::CanUnload());

  {
    ComPtr<_clsMsgQueue> queue = NewComQueue();
    ComPtr<IDispatch> timer;
    ASSERT_EQ(queue->get_WorkerTimer(timer.put()), S_OK);
  }
  // Its engine still holds it: the module must stay.
  EXPECT_FALSE(ServerLifetime::CanUnload());
}

}  // namespace
}  // namespace dovel::testing
