#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "client/queue_client.h"
#include "config/mod_globals.h"
#include "engine/frm_msg_queue.h"
#include "platform/clock/settable_clock.h"
#include "platform/loop/manual_message_loop.h"
#include "support/recording_error_object.h"

namespace dovel::testing {

// The client's operations where a test needs them to work: a failure fails
// the test with its reason.
inline std::u16string Posted(client::QueueClient& client, std::u16string_view name, bool automatic = false) {
  const auto posted = client.Post(name, automatic);
  EXPECT_EQ(posted.error, std::error_code()) << "posting a message";
  return posted.value.str();
}

inline std::u16string Taken(client::QueueClient& client) {
  auto taken = client.TakeCurrent();
  EXPECT_EQ(taken.error, std::error_code()) << "taking the current message";
  return std::move(taken.value);
}

inline std::size_t Waiting(const client::QueueClient& client) {
  const auto queued = client.Queued();
  EXPECT_EQ(queued.error, std::error_code()) << "walking the work queue";
  return queued.value;
}

// Stands in for the queue object: records the events the engine raises and
// lets a test act inside a handler, as a client would.
class RecordingParent final : public engine::QueueEvents {
 public:
  void RaiseSendData() override { Record("SendData"); }
  void RaiseTimeout() override { Record("Timeout"); }
  void RaiseInactiveSession() override { Record("InactiveSession"); }
  void RaiseHeartbeat() override { Record("Heartbeat"); }
  void RaiseDiagRefresh() override { Record("DiagRefresh"); }

  std::vector<std::string> events;
  std::function<void(const std::string&)> on_event;

  std::size_t Count(const std::string& name) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e == name ? 1 : 0;
    return n;
  }

 private:
  void Record(const std::string& name) {
    events.push_back(name);
    if (on_event) on_event(name);
  }
};

// An engine on virtual time: a manual loop and a settable clock that move
// together, the error log recorded.
class EngineTest : public ::testing::Test {
 protected:
  // The GUID source is the thread's, so that a test may put a scripted one
  // in place before it starts an engine.
  std::shared_ptr<engine::frmMsgQueue> Start(std::int16_t poll_rate = 500) {
    auto engine = engine::frmMsgQueue::New({loop_, clock_, platform::CurrentGuidSource(), poll_rate});
    engine->Parent = parent_;
    engine->Form_Load();
    return engine;
  }

  client::QueueClient ClientOf(const engine::frmMsgQueue& engine) {
    client::QueueClient client(engine.WorkQueueGUID, engine.CurrentMsgGUID, engine.LastSentMsgGUID);
    EXPECT_TRUE(client.ok()) << client.status();
    return client;
  }

  void Advance(std::int64_t ms) { loop_.AdvanceMilliseconds(ms); }

  platform::SettableClock clock_{{2026, 12, 8, 10, 0, 0, 0}};
  platform::ManualMessageLoop loop_{&clock_};
  platform::ScopedOverride<platform::MessageLoop> use_loop_{loop_};
  platform::ScopedOverride<platform::Clock> use_clock_{clock_};
  ScopedRecordingErrorObject errors_;
  std::shared_ptr<RecordingParent> parent_ = std::make_shared<RecordingParent>();
};

}  // namespace dovel::testing
