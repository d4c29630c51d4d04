// Start, stop, identifiers and settings of the queue engine.
#include <gmock/gmock.h>

#include <regex>

#include "engine_fixture.h"
#include "platform/automation/text.h"
#include "platform/guid/scripted_guid_source.h"
#include "store/cls_messages.h"
#include "store/identifier.h"
#include "support/fake_shared_memory.h"

namespace dovel::engine {
namespace {

using testing::EngineTest;
using testing::Posted;
using testing::Waiting;

bool ListIsEmpty(const std::u16string& guid) {
  store::clsMessages head;
  return head.Load(guid) == 0 && head.FirstMsgGUID() == guid;
}

TEST_F(EngineTest, TwoEnginesMakeSixDistinctWellFormedIdentifiersAndEmptyLists) {
  const auto a = Start(), b = Start();
  const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  std::set<std::u16string> all;
  for (const auto& engine : {a, b}) {
    for (const auto* guid : {&engine->WorkQueueGUID, &engine->CurrentMsgGUID, &engine->LastSentMsgGUID}) {
      EXPECT_TRUE(std::regex_match(platform::automation::ToUtf8(*guid), form)) << platform::automation::ToUtf8(*guid);
      EXPECT_TRUE(ListIsEmpty(*guid));
      all.insert(*guid);
    }
  }
  EXPECT_EQ(all.size(), 6u);
  EXPECT_TRUE(errors_->calls().empty());
  a->Form_Unload();
  b->Form_Unload();
}

TEST_F(EngineTest, StartArmsOnlyTheWorkerWithThePollRate) {
  const auto engine = Start(250);
  EXPECT_TRUE(engine->tmrWorker()->Enabled());
  EXPECT_EQ(engine->tmrWorker()->Interval(), 250);
  for (const auto& timer : {engine->tmrTimeOut(), engine->tmrHeartBeat(), engine->tmrDiagRefresh()}) {
    EXPECT_FALSE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 0);
  }
  engine->Form_Unload();
}

TEST_F(EngineTest, FailingGuidSourceIsOneReportOfNumberOneAndNothingIsCreated) {
  platform::ScriptedGuidSource guids;
  guids.FailNext(1);
  platform::ScopedOverride<platform::GuidSource> use(guids);
  const auto engine = Start();
  ASSERT_EQ(errors_->Reports().size(), 1u);
  const auto report = errors_->Reports()[0];
  EXPECT_EQ(report.args[0].As<std::int32_t>(), 1);
  EXPECT_EQ(report.args[7].As<std::u16string>(), u"frmMsgQueue");
  EXPECT_EQ(report.args[8].As<std::u16string>(), u"Form_Load()");
  EXPECT_EQ(engine->WorkQueueGUID, u"");
  EXPECT_EQ(engine->CurrentMsgGUID, u"");
  EXPECT_EQ(guids.calls(), 1);  // the start ended at the first identifier
  EXPECT_FALSE(engine->tmrWorker()->Enabled());
  Advance(5000);
  EXPECT_TRUE(parent_->events.empty());
}

// A block of that name belongs to someone else already: the start fails
// with 183, and nothing of that block is taken over.
TEST_F(EngineTest, AnIdentifierWhoseBlockExistsFailsTheStartWithAlreadyExists) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use_memory(memory);
  platform::ScriptedGuidSource guids, same_sequence;
  platform::ScopedOverride<platform::GuidSource> use_guids(guids);
  platform::Guid first;
  ASSERT_EQ(same_sequence.CreateGuid(first), std::error_code());
  const store::Identifier taken = store::Identifier::From(first);
  const std::u16string elsewhere = u"{0F8FAD5B-D9CB-469F-A165-70867728950E}";
  store::clsMessages squatter;
  ASSERT_EQ(squatter.Create(taken), std::error_code());
  squatter.FirstMsgGUID(elsewhere);

  const auto engine = Start();
  ASSERT_EQ(errors_->Reports().size(), 1u);
  EXPECT_EQ(errors_->Reports()[0].args[0].As<std::int32_t>(), 183);
  EXPECT_EQ(errors_->Reports()[0].args[8].As<std::u16string>(), u"Form_Load()");
  EXPECT_EQ(engine->WorkQueueGUID, taken.view());
  EXPECT_FALSE(engine->tmrWorker()->Enabled());
  EXPECT_EQ(squatter.FirstMsgGUID(), elsewhere);
  engine->Form_Unload();
}

TEST_F(EngineTest, StopTwiceIsQuietAndKeepsTheIdentifiers) {
  const auto engine = Start();
  const std::u16string work = engine->WorkQueueGUID;
  engine->tmrHeartBeat()->SetInterval(100);
  engine->tmrHeartBeat()->SetEnabled(true);
  engine->Form_Unload();
  engine->Form_Unload();
  EXPECT_EQ(engine->Parent, nullptr);
  for (const auto& timer :
       {engine->tmrWorker(), engine->tmrTimeOut(), engine->tmrHeartBeat(), engine->tmrDiagRefresh()}) {
    EXPECT_FALSE(timer->Enabled());
  }
  EXPECT_EQ(engine->tmrHeartBeat()->Interval(), 100);  // intervals are left alone
  EXPECT_EQ(engine->WorkQueueGUID, work);
  EXPECT_TRUE(errors_->calls().empty());
  EXPECT_FALSE(ListIsEmpty(work));  // this engine held the only handle
}

TEST_F(EngineTest, PollRateZeroStartsNormallyButNeverDispatches) {
  const auto engine = Start(0);
  auto client = ClientOf(*engine);
  Posted(client, u"waiting");
  Advance(60'000);
  EXPECT_TRUE(parent_->events.empty());
  EXPECT_EQ(Waiting(client), 1u);
  EXPECT_TRUE(errors_->calls().empty());
  engine->Form_Unload();
}

TEST_F(EngineTest, InactivityCompleteRestartsTheDeadlineEvenWhenNotInactive) {
  const auto engine = Start();
  engine->InactivityTimeout(30);
  engine->InactivityComplete();
  EXPECT_FLOAT_EQ(engine->InactivityDeadlineValue(), 10 * 3600 + 30);
  engine->InactivityTimeout(0);
  Advance(1000);
  engine->InactivityComplete();
  EXPECT_FLOAT_EQ(engine->InactivityDeadlineValue(), 10 * 3600 + 1);
  EXPECT_FALSE(engine->IsInactive());
  engine->Form_Unload();
}

}  // namespace
}  // namespace dovel::engine
