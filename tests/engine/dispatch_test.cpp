// The worker tick: handing messages over one at a time, and watching for an
// idle conversation.
#include <gmock/gmock.h>

#include "engine_fixture.h"
#include "store/block_layout.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/store_test_support.h"

namespace dovel::engine {
namespace {

using ::testing::ElementsAre;
using testing::EngineTest;
using testing::Posted;
using testing::Taken;
using testing::Waiting;

TEST_F(EngineTest, ThreeMessagesGoOutInChainOrderOnePerTick) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  const std::vector<std::u16string> posted = {Posted(client, u"one"), Posted(client, u"two"), Posted(client, u"three")};
  std::vector<std::u16string> sent;
  parent_->on_event = [&](const std::string& event) {
    ASSERT_EQ(event, "SendData");
    store::clsMessages current;
    ASSERT_EQ(current.Load(engine->CurrentMsgGUID), 0);
    const auto message = current.FirstMsg();
    ASSERT_NE(message, nullptr);
    // The message alone ends the current-message chain.
    EXPECT_EQ(message->NextMsgGUID(), engine->CurrentMsgGUID);
    EXPECT_EQ(message->HeadGUID(), engine->CurrentMsgGUID);
    EXPECT_EQ(current.FirstMsgGUID(), posted[sent.size()]);
    sent.push_back(Taken(client));
  };
  Advance(500);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(Waiting(client), 2u);
  Advance(1000);
  EXPECT_THAT(sent, ElementsAre(u"one", u"two", u"three"));
  store::clsMessages work;
  ASSERT_EQ(work.Load(engine->WorkQueueGUID), 0);
  EXPECT_EQ(work.FirstMsgGUID(), engine->WorkQueueGUID);
  Advance(2000);
  EXPECT_EQ(parent_->Count("SendData"), 3u);
  EXPECT_TRUE(engine->tmrWorker()->Enabled());
  EXPECT_TRUE(errors_->calls().empty());
  engine->Form_Unload();
}

TEST_F(EngineTest, NothingIsDispatchedWhileTheCurrentMessageIsNotTaken) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  Posted(client, u"one");
  Posted(client, u"two");
  Advance(10'000);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  EXPECT_EQ(Waiting(client), 1u);
  EXPECT_EQ(Taken(client), u"one");
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 2u);
  engine->Form_Unload();
}

TEST_F(EngineTest, PanelEventWarningLetsOnlyAnExactKeepAliveThrough) {
  const auto engine = Start();
  engine->PanelEventWarning(true);
  auto client = ClientOf(*engine);
  Posted(client, u"Keep Alive");
  Posted(client, u"keep alive");
  Posted(client, u"Keep Alive");
  parent_->on_event = [&](const std::string&) { Taken(client); };
  Advance(5000);
  EXPECT_EQ(parent_->Count("SendData"), 1u);  // the lower-case one holds the rest back
  EXPECT_EQ(Waiting(client), 2u);
  engine->PanelEventWarning(false);
  Advance(1000);
  EXPECT_EQ(parent_->Count("SendData"), 3u);
  engine->Form_Unload();
}

TEST_F(EngineTest, DisconnectingAndUnattendedDoNotStopDispatch) {
  const auto engine = Start();
  engine->Disconnecting(true);
  engine->Unattended(true);
  auto client = ClientOf(*engine);
  Posted(client, u"one");
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  engine->Form_Unload();
}

// Inactivity: an automatic message heads the last-sent list.
class Inactivity : public EngineTest {
 protected:
  void SetUp() override {
    engine_ = Start();
    client_ = std::make_unique<client::QueueClient>(ClientOf(*engine_));
    parent_->on_event = [&](const std::string& e) {
      if (e == "SendData") Taken(*client_);
    };
  }
  void TearDown() override { engine_->Form_Unload(); }

  // Posts a message and lets the worker hand it over, so that it heads the
  // last-sent list afterwards.
  void Send(std::u16string_view name, bool automatic) {
    Posted(*client_, name, automatic);
    Advance(500);
  }

  std::shared_ptr<frmMsgQueue> engine_;
  std::unique_ptr<client::QueueClient> client_;
};

TEST_F(Inactivity, DeadlineStartsAtZeroSoAnAutomaticMessageIsInactiveAtOnceAndOnlyOnce) {
  Send(u"auto", true);
  EXPECT_EQ(parent_->Count("InactiveSession"), 0u);  // supervision off: time-out 0
  engine_->InactivityTimeout(60);
  Advance(500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
  Advance(600'000);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
  EXPECT_TRUE(engine_->IsInactive());

  engine_->InactivityComplete();
  Advance(59'000);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
  Advance(1'500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 2u);
}

TEST_F(Inactivity, ANonAutomaticMessageRestartsTheDeadlineOnceFromTheFirstTickThatSeesIt) {
  engine_->InactivityTimeout(10);
  Send(u"user", false);  // dispatched now, seen as last sent on the next tick
  Advance(500);
  const float deadline = engine_->InactivityDeadlineValue();
  Advance(5'000);
  EXPECT_FLOAT_EQ(engine_->InactivityDeadlineValue(), deadline);  // same message: no restart
  Send(u"auto", true);
  Advance(3'000);
  EXPECT_EQ(parent_->Count("InactiveSession"), 0u);
  Advance(2'500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
}

TEST_F(Inactivity, NegativeTimeoutMakesTheNextAutomaticMessageInactiveAtOnce) {
  engine_->InactivityTimeout(-5);
  Send(u"user", false);
  Advance(500);
  Send(u"auto", true);
  Advance(500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
}

TEST_F(Inactivity, SuspendingSwitchesHoldSupervisionBack) {
  engine_->InactivityTimeout(1);
  Send(u"auto", true);
  for (auto set : std::vector<std::function<void(bool)>>{[&](bool v) { engine_->Disconnecting(v); },
                                                         [&](bool v) { engine_->Unattended(v); },
                                                         [&](bool v) { engine_->PanelEventWarning(v); }}) {
    set(true);
    Advance(5'000);
    EXPECT_EQ(parent_->Count("InactiveSession"), 0u);
    set(false);
  }
  Advance(500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
}

TEST_F(Inactivity, ADeadlineSetBeforeMidnightIsStillReachedAfterIt) {
  clock_.Set({2026, 12, 8, 23, 58, 0, 0});
  engine_->InactivityTimeout(600);  // ten minutes: the deadline lies past 86,400
  Send(u"user", false);
  Advance(500);
  Send(u"auto", true);
  Advance(5 * 60'000);  // 00:03 the next day
  EXPECT_EQ(parent_->Count("InactiveSession"), 0u);
  Advance(5 * 60'000);  // 00:08
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
}

TEST_F(EngineTest, UnloadInsideSendDataEndsTheTickWithEveryTimerDisabled) {
  const auto engine = Start();
  engine->tmrHeartBeat()->SetInterval(1000);
  engine->tmrHeartBeat()->SetEnabled(true);
  auto client = ClientOf(*engine);
  Posted(client, u"one");
  Posted(client, u"two");
  parent_->on_event = [&](const std::string&) { engine->Form_Unload(); };
  Advance(500);
  for (const auto& timer :
       {engine->tmrWorker(), engine->tmrTimeOut(), engine->tmrHeartBeat(), engine->tmrDiagRefresh()}) {
    EXPECT_FALSE(timer->Enabled());
  }
  Advance(10'000);
  EXPECT_EQ(parent_->events, std::vector<std::string>{"SendData"});
  EXPECT_TRUE(errors_->calls().empty());
}

TEST_F(EngineTest, UnloadInsideInactiveSessionIsReportedOnceAndStopsTheEngine) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  parent_->on_event = [&](const std::string& e) {
    if (e == "SendData") Taken(client);
    if (e == "InactiveSession") engine->Form_Unload();
  };
  Posted(client, u"auto", true);
  Advance(500);
  engine->InactivityTimeout(5);
  Advance(500);
  EXPECT_EQ(parent_->Count("InactiveSession"), 1u);
  // The dispatch step after the event finds the lists released.
  ASSERT_EQ(errors_->Reports().size(), 1u);
  EXPECT_EQ(errors_->Reports()[0].args[8].As<std::u16string>(), u"tmrWorker_Timer()");
  EXPECT_FALSE(engine->tmrWorker()->Enabled());
}

// A client killed after linking its message takes the message's block
// along (it was the last holder): the link is reported once and dropped, and
// the queue goes on with what other clients post.
TEST_F(EngineTest, AVanishedMessageIsReportedOnceAndTheQueueGoesOn) {
  const auto engine = Start();
  {
    auto dead = ClientOf(*engine);
    ASSERT_EQ(dead.Post(u"lost").error, std::error_code());
  }
  Advance(500);
  ASSERT_EQ(errors_->Reports().size(), 2u);  // Load() and FirstMsg[Get]
  EXPECT_EQ(errors_->Reports()[0].args.at(0), platform::automation::Variant(std::int32_t{2}));
  Advance(5000);
  EXPECT_EQ(errors_->Reports().size(), 2u) << "reported on every tick";

  auto alive = ClientOf(*engine);
  std::vector<std::u16string> sent;
  parent_->on_event = [&](const std::string&) { sent.push_back(Taken(alive)); };
  ASSERT_EQ(alive.Post(u"next").error, std::error_code()) << "the dangling link still blocks posting";
  Advance(500);
  EXPECT_THAT(sent, ElementsAre(u"next"));
  engine->Form_Unload();
}

// A zero-filled block linked in, or any text that is no identifier: the same.
TEST_F(EngineTest, ALinkThatIsNoIdentifierIsReportedOnceAndDropped) {
  const auto engine = Start();
  store::clsMessages work;
  ASSERT_EQ(work.Load(engine->WorkQueueGUID), 0);
  // The setter refuses what is no identifier; another process's bytes are not checked.
  testing::RawBlock(engine->WorkQueueGUID).SetText(0, std::u16string(38, u'\0'));
  Advance(5000);
  ASSERT_EQ(errors_->Reports().size(), 2u);
  EXPECT_EQ(errors_->Reports()[0].args.at(0), platform::automation::Variant(std::int32_t{123}));
  EXPECT_EQ(work.FirstMsgGUID(), engine->WorkQueueGUID);
  EXPECT_TRUE(engine->tmrWorker()->Enabled());
  engine->Form_Unload();
}

// The message itself is fine, only its link to what follows is no
// identifier: it goes out, the queue ends with it, the link is reported.
TEST_F(EngineTest, AMessageWhoseNextLinkIsNoIdentifierGoesOutAndTheLinkIsDropped) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  const std::u16string posted = Posted(client, u"one");
  testing::RawBlock(posted).SetText(store::layout::kNextMsgGuid, std::u16string(38, u'\0'));
  std::vector<std::u16string> sent;
  parent_->on_event = [&](const std::string&) { sent.push_back(Taken(client)); };
  Advance(500);
  EXPECT_THAT(sent, ElementsAre(u"one"));
  store::clsMessages work;
  ASSERT_EQ(work.Load(engine->WorkQueueGUID), 0);
  EXPECT_EQ(work.FirstMsgGUID(), engine->WorkQueueGUID);
  ASSERT_EQ(errors_->Reports().size(), 1u);
  EXPECT_EQ(errors_->Reports()[0].args.at(0), platform::automation::Variant(std::int32_t{123}));
  EXPECT_EQ(errors_->Reports()[0].args[8].As<std::u16string>(), u"tmrWorker_Timer()");

  Posted(client, u"two");
  Advance(500);
  EXPECT_THAT(sent, ElementsAre(u"one", u"two"));
  EXPECT_EQ(errors_->Reports().size(), 1u);
  engine->Form_Unload();
}

// The current list's message vanished with a client that never took it:
// the list counts as empty, and its link is dropped the same way.
TEST_F(EngineTest, AVanishedCurrentMessageDoesNotStopTheNextDispatch) {
  const auto engine = Start();
  store::clsMessages current;
  ASSERT_EQ(current.Load(engine->CurrentMsgGUID), 0);
  current.FirstMsgGUID(u"{0BADF00D-0000-4000-8000-000000000001}");
  auto client = ClientOf(*engine);
  Posted(client, u"one");
  Posted(client, u"two");
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  Taken(client);
  Advance(5000);
  EXPECT_EQ(parent_->Count("SendData"), 2u);
  EXPECT_EQ(errors_->Reports().size(), 2u);
  engine->Form_Unload();
}

}  // namespace
}  // namespace dovel::engine
