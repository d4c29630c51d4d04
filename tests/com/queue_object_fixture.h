#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "client/queue_client.h"
#include "com/cls_msg_queue.h"
#include "config/mod_globals.h"
#include "platform/automation/object_factory.h"
#include "platform/clock/settable_clock.h"
#include "platform/loop/manual_message_loop.h"
#include "support/recording_error_object.h"
#include "support/scoped_environment.h"

namespace dovel::testing {

// Queue objects on virtual time, with private settings and a recording
// error-logging object behind "ErrorObject.clsErrorObject".
class QueueObjectTest : public ::testing::Test {
 protected:
  QueueObjectTest() {
    classes_.Register("ErrorObject.clsErrorObject", [this] {
      auto object = std::make_shared<RecordingErrorObject>();
      error_objects_.push_back(object);
      return object;
    });
  }
  ~QueueObjectTest() override { g_oErrorObject.reset(); }

  std::unique_ptr<client::QueueClient> ClientOf(com::clsMsgQueue& queue) {
    std::u16string work, current, last;
    EXPECT_FALSE(queue.get_WorkQueueGUID(work));
    EXPECT_FALSE(queue.get_CurrentMsgGUID(current));
    EXPECT_FALSE(queue.get_LastSentMsgGUID(last));
    auto client = std::make_unique<client::QueueClient>(work, current, last);
    EXPECT_TRUE(client->ok()) << client->status();
    return client;
  }

  static std::shared_ptr<platform::Timer> Heartbeat(com::clsMsgQueue& queue) {
    std::shared_ptr<platform::Timer> timer;
    EXPECT_FALSE(queue.get_HeartbeatTimer(timer));
    return timer;
  }

  ScopedServerEnvironment environment_;
  platform::automation::ClassTable classes_;
  platform::ScopedOverride<platform::automation::ObjectFactory> use_classes_{classes_};
  std::vector<std::shared_ptr<RecordingErrorObject>> error_objects_;
  platform::SettableClock clock_{{2026, 12, 8, 9, 0, 0, 0}};
  platform::ManualMessageLoop loop_{&clock_};
  platform::ScopedOverride<platform::MessageLoop> use_loop_{loop_};
  platform::ScopedOverride<platform::Clock> use_clock_{clock_};
};

// Collects the events one sink receives.
struct EventLog {
  std::vector<com::QueueEvent> events;
  com::clsMsgQueue::Sink Sink() {
    return [this](com::QueueEvent e) { events.push_back(e); };
  }
  std::size_t Count(com::QueueEvent e) const {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), e));
  }
};

}  // namespace dovel::testing
