// The queue object called by member name, as automation clients do.
#include <gmock/gmock.h>

#include <set>

#include "com/late_bound.h"
#include "platform/automation/conversions.h"
#include "queue_object_fixture.h"

namespace dovel::com {
namespace {

namespace automation = platform::automation;
using testing::EventLog;
using testing::QueueObjectTest;

TEST_F(QueueObjectTest, LateBoundCallsReachTheSameObject) {
  const auto queue = clsMsgQueue::New();
  QueueDispatch dispatch(queue);
  automation::Variant guid;
  ASSERT_EQ(dispatch.GetProperty(u"WorkQueueGUID", guid), std::error_code());
  std::u16string direct;
  EXPECT_FALSE(queue->get_WorkQueueGUID(direct));
  EXPECT_EQ(guid.As<std::u16string>(), direct);

  // A switch counts as True for any value other than 0.
  EventLog log;
  std::uint32_t cookie = 0;
  EXPECT_FALSE(queue->Advise(log.Sink(), cookie));
  EXPECT_EQ(dispatch.PutProperty(u"Disconnecting", std::int16_t{5}), std::error_code());
  automation::Variant timer;
  ASSERT_EQ(dispatch.GetProperty(u"TimeoutTimer", timer), std::error_code());
  auto& timer_object = *timer.As<automation::ObjectRef>();
  EXPECT_EQ(timer_object.PutProperty(u"Interval", 1000.0), std::error_code());
  EXPECT_EQ(timer_object.PutProperty(u"Enabled", true), std::error_code());
  loop_.AdvanceMilliseconds(1000);
  EXPECT_TRUE(log.events.empty());  // held back: Disconnecting is on
  automation::Variant enabled;
  timer_object.GetProperty(u"Enabled", enabled);
  EXPECT_EQ(enabled, automation::Variant(false));

  EXPECT_EQ(dispatch.PutProperty(u"Disconnecting", std::int16_t{0}), std::error_code());
  timer_object.PutProperty(u"Enabled", std::int16_t{-1});
  loop_.AdvanceMilliseconds(1000);
  EXPECT_EQ(log.events, std::vector<QueueEvent>{QueueEvent::Timeout});

  EXPECT_EQ(dispatch.PutProperty(u"WorkQueueGUID", u"x"), RuntimeError::kMemberNotFound);  // read only
  EXPECT_EQ(dispatch.PutProperty(u"InactivityTimeout", 40000.0), RuntimeError::kOverflow);
  EXPECT_EQ(dispatch.GetProperty(u"Disconnecting", guid), RuntimeError::kMemberNotFound);  // write only
  EXPECT_EQ(dispatch.Call(u"UnloadQueue", {}, nullptr), std::error_code());
  automation::Variant worker;
  EXPECT_FALSE(dispatch.GetProperty(u"WorkerTimer", worker));
  automation::Variant worker_enabled;
  worker.As<automation::ObjectRef>()->GetProperty(u"Enabled", worker_enabled);
  EXPECT_EQ(worker_enabled, automation::Variant(false));
}

TEST(DispatchTable, IdentifiersAreDistinctAndNamedOnce) {
  std::set<std::int32_t> ids;
  std::set<std::u16string_view> names;
  for (const MemberId& member : kMembers) {
    ids.insert(member.dispid);
    names.insert(member.name);
    EXPECT_EQ(QueueDispatch::NameOf(member.dispid), member.name);
  }
  EXPECT_EQ(ids.size(), kMembers.size());
  EXPECT_EQ(names.size(), kMembers.size());
  EXPECT_EQ(QueueDispatch::NameOf(0x12345678), u"");
}

}  // namespace
}  // namespace dovel::com
