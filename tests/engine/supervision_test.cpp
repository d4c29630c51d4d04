// Time-out, heartbeat and diagnostics ticks, and which switches hold back
// which event.
#include <gmock/gmock.h>

#include "engine_fixture.h"

namespace dovel::engine {
namespace {

using testing::EngineTest;
using testing::Posted;

class Supervision : public EngineTest {
 protected:
  void SetUp() override {
    engine_ = Start(0);  // the worker stays out of the way
    for (const auto& timer : {engine_->tmrHeartBeat(), engine_->tmrDiagRefresh()}) {
      timer->SetInterval(1000);
      timer->SetEnabled(true);
    }
  }
  void TearDown() override { engine_->Form_Unload(); }

  void ArmTimeout() {
    engine_->tmrTimeOut()->SetInterval(1000);
    engine_->tmrTimeOut()->SetEnabled(true);
  }

  std::shared_ptr<frmMsgQueue> engine_;
};

TEST_F(Supervision, TimeoutIsOneShot) {
  ArmTimeout();
  Advance(999);
  EXPECT_EQ(parent_->Count("Timeout"), 0u);
  Advance(1);
  EXPECT_EQ(parent_->Count("Timeout"), 1u);
  EXPECT_FALSE(engine_->tmrTimeOut()->Enabled());
  Advance(10'000);
  EXPECT_EQ(parent_->Count("Timeout"), 1u);
  ArmTimeout();  // each arming gives one more
  Advance(1000);
  EXPECT_EQ(parent_->Count("Timeout"), 2u);
}

TEST_F(Supervision, HandlerMayRearmTheTimeoutItIsHandling) {
  parent_->on_event = [&](const std::string& e) {
    if (e == "Timeout" && parent_->Count("Timeout") < 3) engine_->tmrTimeOut()->SetEnabled(true);
  };
  ArmTimeout();
  Advance(10'000);
  EXPECT_EQ(parent_->Count("Timeout"), 3u);
}

TEST_F(Supervision, HeartbeatWaitsWhileAKeepAliveHeadsTheWorkQueue) {
  auto client = ClientOf(*engine_);
  Advance(2000);
  EXPECT_EQ(parent_->Count("Heartbeat"), 2u);
  Posted(client, u"Keep Alive");
  Advance(3000);
  EXPECT_EQ(parent_->Count("Heartbeat"), 2u);

  engine_->tmrHeartBeat()->SetEnabled(false);
  engine_->Form_Unload();
  // A fresh engine whose queue has another message first, a keep-alive behind.
  engine_ = Start(0);
  engine_->tmrHeartBeat()->SetInterval(1000);
  engine_->tmrHeartBeat()->SetEnabled(true);
  auto second = ClientOf(*engine_);
  Posted(second, u"data");
  Posted(second, u"Keep Alive");
  parent_->events.clear();
  Advance(3000);
  EXPECT_EQ(parent_->Count("Heartbeat"), 3u);
}

TEST_F(Supervision, TimerEnabledAtIntervalZeroNeverTicks) {
  engine_->tmrTimeOut()->SetEnabled(true);
  Advance(60'000);
  EXPECT_EQ(parent_->Count("Timeout"), 0u);
}

// Which events each switch lets through, for one tick of each timer.
struct SwitchCase {
  const char* name;
  bool disconnecting, unattended, panel;
  std::size_t timeouts, heartbeats, refreshes;
};

class SwitchTable : public Supervision, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTable, EventsHeldBackAsTheTableSays) {
  const SwitchCase c = GetParam();
  engine_->Disconnecting(c.disconnecting);
  engine_->Unattended(c.unattended);
  engine_->PanelEventWarning(c.panel);
  ArmTimeout();
  Advance(1000);
  EXPECT_EQ(parent_->Count("Timeout"), c.timeouts);
  EXPECT_EQ(parent_->Count("Heartbeat"), c.heartbeats);
  EXPECT_EQ(parent_->Count("DiagRefresh"), c.refreshes);
  EXPECT_FALSE(engine_->tmrTimeOut()->Enabled());  // disarmed whether raised or not
  EXPECT_TRUE(engine_->tmrHeartBeat()->Enabled());
}

INSTANTIATE_TEST_SUITE_P(Engine, SwitchTable,
                         ::testing::Values(SwitchCase{"none", false, false, false, 1, 1, 1},
                                           SwitchCase{"disconnecting", true, false, false, 0, 0, 0},
                                           SwitchCase{"unattended", false, true, false, 1, 0, 0},
                                           SwitchCase{"panel", false, false, true, 1, 1, 0}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(Supervision, NoEventAfterTheStopEvenWhenAClientRearmsATimer) {
  engine_->Form_Unload();
  engine_->tmrHeartBeat()->SetEnabled(true);
  engine_->tmrDiagRefresh()->SetEnabled(true);
  ArmTimeout();
  engine_->tmrWorker()->SetInterval(500);
  engine_->tmrWorker()->SetEnabled(true);
  Advance(5000);
  EXPECT_TRUE(parent_->events.empty());
  EXPECT_TRUE(errors_->calls().empty());
}

}  // namespace
}  // namespace dovel::engine
