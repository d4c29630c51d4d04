// The C library's bus client against this build's dovel-server, each case on
// a private session bus of its own that starts the server when asked.
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "dovel/client.h"
#include "dovel/server.h"
#include "platform/child_process/child_process.h"

namespace dovel::testing {
namespace {

// Generous: a shared machine may be slow; the outcome decides, not the time.
constexpr auto kDeadline = std::chrono::seconds(30);

struct ServerCloser {
  void operator()(dovel_server* server) const { dovel_server_disconnect(server); }
};
using Server = std::unique_ptr<dovel_server, ServerCloser>;
struct QueueCloser {
  void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
};

Server Connect() {
  dovel_server* server = nullptr;
  EXPECT_EQ(dovel_server_connect(&server), DOVEL_OK) << dovel_server_last_error();
  return Server(server);
}

dovel_server_queue* Create(dovel_server* server) {
  dovel_server_queue* queue = nullptr;
  EXPECT_EQ(dovel_server_create_queue(server, &queue), DOVEL_OK) << dovel_server_last_error();
  return queue;
}

std::string ListId(const dovel_server_queue* queue, dovel_queue_list which) {
  char id[DOVEL_ID_BUFFER] = {};
  EXPECT_EQ(dovel_server_queue_list_id(queue, which, id), DOVEL_OK);
  return id;
}

// Dispatches until `done` holds or the deadline passes.
bool DispatchUntil(dovel_server* server, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    const dovel_result dispatched = dovel_server_dispatch(server, 200);
    if (dispatched != DOVEL_OK && dispatched != DOVEL_EMPTY) return false;
  }
  return true;
}

bool Running(dovel_server* server) {
  int running = -1;
  EXPECT_EQ(dovel_server_is_running(server, &running), DOVEL_OK);
  return running == 1;
}

// What the SendData callback of the lifecycle case does: takes the message
// through shared memory, then unloads and releases the object from inside
// the dispatch.
struct Taker {
  dovel_queue* lists = nullptr;
  dovel_server_queue* object = nullptr;
  std::string taken;
  dovel_result unloaded = DOVEL_SYSTEM_ERROR;
  dovel_result released = DOVEL_SYSTEM_ERROR;

  static void OnEvent(void* context, const char* event_name) {
    auto& self = *static_cast<Taker*>(context);
    if (std::string(event_name) != "SendData" || self.object == nullptr) return;
    char id[DOVEL_ID_BUFFER] = {};
    if (dovel_queue_take(self.lists, id) == DOVEL_OK) self.taken = id;
    self.unloaded = dovel_server_queue_unload(self.object);
    self.released = dovel_server_queue_release(self.object);
    self.object = nullptr;
  }
};

TEST(BusClient, QueueObjectCreatedSetAndReleasedWhileItsSignalIsDispatched) {
  const Server server = Connect();
  dovel_server_queue* object = Create(server.get());
  ASSERT_NE(object, nullptr);
  const std::string path = dovel_server_queue_path(object);
  EXPECT_EQ(path.rfind("/org/dovel/Dovel/clsMsgQueue/", 0), 0U) << path;

  // Three different lists, each a list head in shared memory.
  const std::string work = ListId(object, DOVEL_WORK_QUEUE);
  const std::string current = ListId(object, DOVEL_CURRENT);
  const std::string last = ListId(object, DOVEL_LAST_SENT);
  EXPECT_NE(work, current);
  EXPECT_NE(current, last);
  for (const std::string& id : {work, current, last}) {
    dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
    EXPECT_EQ(dovel_block_kind_of(id.c_str(), &kind), DOVEL_OK) << id;
    EXPECT_EQ(kind, DOVEL_BLOCK_LIST) << id;
  }

  // The worker runs from the start; what the owner sets reads back.
  std::int32_t interval = 0;
  int enabled = 0;
  ASSERT_EQ(dovel_server_timer_get(object, DOVEL_TIMER_WORKER, &interval, &enabled), DOVEL_OK);
  EXPECT_GT(interval, 0);
  EXPECT_EQ(enabled, 1);
  EXPECT_EQ(dovel_server_timer_set_interval(object, DOVEL_TIMER_HEARTBEAT, 4321), DOVEL_OK);
  EXPECT_EQ(dovel_server_timer_get(object, DOVEL_TIMER_HEARTBEAT, &interval, nullptr), DOVEL_OK);
  EXPECT_EQ(interval, 4321);
  EXPECT_EQ(dovel_server_queue_set_switch(object, DOVEL_SWITCH_UNATTENDED, 1), DOVEL_OK);
  EXPECT_EQ(dovel_server_queue_set_inactivity_timeout(object, 30), DOVEL_OK);
  // The limits of a message hold before the server is asked.
  EXPECT_EQ(dovel_server_queue_post(object, std::string(DOVEL_NAME_MAX_UNITS + 1, 'n').c_str(), nullptr, 0, 0, nullptr),
            DOVEL_TOO_LONG);

  // A message posted through shared memory goes out; SendData arrives as a
  // signal through dispatch.
  dovel_queue* lists = nullptr;
  ASSERT_EQ(dovel_queue_open(work.c_str(), current.c_str(), last.c_str(), &lists), DOVEL_OK);
  const std::unique_ptr<dovel_queue, QueueCloser> lists_closer(lists);
  char posted[DOVEL_ID_BUFFER] = {};
  ASSERT_EQ(dovel_queue_post(lists, "Hello", "Hi", 2, 0, posted), DOVEL_OK);
  Taker taker;
  taker.lists = lists;
  taker.object = object;
  ASSERT_EQ(dovel_server_queue_on_event(object, &Taker::OnEvent, &taker), DOVEL_OK);
  ASSERT_TRUE(DispatchUntil(server.get(), [&] { return taker.object == nullptr; }));
  EXPECT_EQ(taker.taken, posted);
  EXPECT_EQ(taker.unloaded, DOVEL_OK) << dovel_server_last_error();
  EXPECT_EQ(taker.released, DOVEL_OK);

  // Released: the path names no object any more.
  dovel_server_queue* gone = nullptr;
  EXPECT_EQ(dovel_server_open_queue(server.get(), path.c_str(), &gone), DOVEL_NO_OBJECT);
  EXPECT_EQ(gone, nullptr);
}

TEST(BusClient, AnotherConnectionFindsTheQueueAndPostsButCannotChangeIt) {
  const Server owner = Connect();
  const Server poster = Connect();
  dovel_server_queue* object = Create(owner.get());
  ASSERT_NE(object, nullptr);
  std::atomic<int> sends = 0;
  const auto count = [](void* context, const char* event_name) {
    if (std::string(event_name) == "SendData") ++*static_cast<std::atomic<int>*>(context);
  };
  ASSERT_EQ(dovel_server_queue_on_event(object, count, &sends), DOVEL_OK);
  const std::string work = ListId(object, DOVEL_WORK_QUEUE);

  dovel_server_queue* found = nullptr;
  ASSERT_EQ(dovel_server_find_queue(poster.get(), work.c_str(), &found), DOVEL_OK) << dovel_server_last_error();
  EXPECT_STREQ(dovel_server_queue_path(found), dovel_server_queue_path(object));
  EXPECT_EQ(ListId(found, DOVEL_LAST_SENT), ListId(object, DOVEL_LAST_SENT));

  // The server holds what it posted: the poster may leave at once.
  char posted[DOVEL_ID_BUFFER] = {};
  ASSERT_EQ(dovel_server_queue_post(found, "From afar", "x", 1, 0, posted), DOVEL_OK) << dovel_server_last_error();
  EXPECT_EQ(dovel_server_queue_set_inactivity_timeout(found, 5), DOVEL_NOT_OWNER);
  EXPECT_EQ(dovel_server_queue_unload(found), DOVEL_NOT_OWNER);
  EXPECT_NE(std::string(dovel_server_last_error()), "");
  // Not its creator: the release frees the handle only.
  EXPECT_EQ(dovel_server_queue_release(found), DOVEL_OK);
  ASSERT_TRUE(DispatchUntil(owner.get(), [&] { return sends > 0; }));
  dovel_queue* lists = nullptr;
  ASSERT_EQ(
      dovel_queue_open(nullptr, ListId(object, DOVEL_CURRENT).c_str(), ListId(object, DOVEL_LAST_SENT).c_str(), &lists),
      DOVEL_OK);
  const std::unique_ptr<dovel_queue, QueueCloser> lists_closer(lists);
  char taken[DOVEL_ID_BUFFER] = {};
  EXPECT_EQ(dovel_queue_take(lists, taken), DOVEL_OK);
  EXPECT_STREQ(taken, posted);

  // No object holds another work queue; text that is no identifier is
  // refused before the bus is asked.
  dovel_server_queue* none = nullptr;
  EXPECT_EQ(dovel_server_find_queue(poster.get(), "{00000000-0000-0000-0000-000000000001}", &none), DOVEL_NO_OBJECT);
  EXPECT_EQ(dovel_server_find_queue(poster.get(), "work", &none), DOVEL_BAD_IDENTIFIER);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(dovel_server_queue_release(object), DOVEL_OK);
}

// With the worker stopped nothing leaves the work queue, so a `dovel post`
// that held the message itself would give up waiting for its dispatch.
TEST(BusClient, DovelPostHandsTheMessageToTheServerHoldingTheQueue) {
  const Server server = Connect();
  dovel_server_queue* object = Create(server.get());
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(dovel_server_timer_set_enabled(object, DOVEL_TIMER_WORKER, 0), DOVEL_OK);
  const std::string work = ListId(object, DOVEL_WORK_QUEUE);

  const auto posted = platform::Run({DOVEL_PROGRAM, "post", work, "hello", "--name", "Remote", "--wait", "1"});
  EXPECT_EQ(posted.status, 0) << posted.output;
  dovel_list* list = nullptr;
  ASSERT_EQ(dovel_list_read(work.c_str(), 0, &list), DOVEL_OK);
  ASSERT_EQ(dovel_list_count(list), 1U);
  EXPECT_EQ(std::string(dovel_list_id(list, 0)) + "\n", posted.output);
  dovel_list_free(list);

  // --local holds the message itself, and gives up.
  const auto local = platform::Run({DOVEL_PROGRAM, "post", work, "hello", "--local", "--wait", "1"});
  EXPECT_EQ(local.status, 1) << local.output;
  EXPECT_EQ(dovel_server_queue_release(object), DOVEL_OK);
}

TEST(BusClient, FindingAQueueStartsNoServer) {
  const Server server = Connect();
  ASSERT_FALSE(Running(server.get()));
  dovel_server_queue* found = nullptr;
  EXPECT_EQ(dovel_server_find_queue(server.get(), "{00000000-0000-0000-0000-000000000001}", &found), DOVEL_NO_SERVER);
  EXPECT_FALSE(Running(server.get()));
}

TEST(BusClient, PathsThatNameNoQueueObjectAreRefusedClearly) {
  const Server server = Connect();
  dovel_server_queue* queue = nullptr;
  for (const char* malformed : {"", "org/dovel", "/org/dovel/", "/org//dovel", "/org/dovel-Dovel"}) {
    EXPECT_EQ(dovel_server_open_queue(server.get(), malformed, &queue), DOVEL_INVALID_ARGUMENT) << malformed;
  }
  // Well formed, but nothing there: the bus says why.
  for (const char* missing : {"/org/dovel/Dovel/clsMsgQueue/999", "/org/dovel/Dovel"}) {
    EXPECT_EQ(dovel_server_open_queue(server.get(), missing, &queue), DOVEL_NO_OBJECT) << missing;
    EXPECT_NE(std::string(dovel_server_last_error()), "") << missing;
  }
  EXPECT_EQ(queue, nullptr);
}

// A server that is shutting down: it owns the name until the first Create,
// gives it up and answers Exiting, as dovel-server does in its last moments.
TEST(BusClient, CreateAsksAgainWhenTheServerIsExiting) {
  const auto fake = sdbus::createSessionBusConnection();
  fake->requestName("org.dovel.Dovel");
  std::atomic<int> refused = 0;
  const auto factory = sdbus::createObject(*fake, "/org/dovel/Dovel");
  factory->registerMethod("Create")
      .onInterface("org.dovel.Dovel.Factory")
      .withOutputParamNames("object")
      .implementedAs([&]() -> sdbus::ObjectPath {
        fake->releaseName("org.dovel.Dovel");
        ++refused;
        throw sdbus::Error("org.dovel.Dovel.Error.Exiting", "shutting down");
      });
  factory->finishRegistration();
  fake->enterEventLoopAsync();

  const Server server = Connect();
  dovel_server_queue* object = Create(server.get());
  fake->leaveEventLoop();
  EXPECT_EQ(refused, 1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(ListId(object, DOVEL_WORK_QUEUE).size(), static_cast<std::size_t>(DOVEL_ID_LENGTH));
  EXPECT_EQ(dovel_server_queue_release(object), DOVEL_OK);
}

}  // namespace
}  // namespace dovel::testing
