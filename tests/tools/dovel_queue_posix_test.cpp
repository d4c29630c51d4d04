// The queue subcommands against lists this test holds, the test playing the
// engine: post, a dispatch, take, and the watch of it all.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/child_process/child_process.h"
#include "store/list_lock.h"
#include "tools/dovel_run_posix.h"

namespace dovel::tools_test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Far beyond any healthy run: a poster that never sees its message go
// fails the test by its exit status instead of hanging it.
constexpr const char* kWaitSeconds = "120";

class DovelQueue : public ::testing::Test {
 protected:
  // Moves the work queue's first message to the current list, as the
  // engine's dispatch does under the work queue's lock.
  void Dispatch() {
    const store::ListLock lock(work_.list, 1000);
    ASSERT_TRUE(lock.held()) << lock.status();
    std::error_code failure;
    const auto message = work_.list.FirstMsg(failure);
    ASSERT_NE(message, nullptr) << failure;
    store::Identifier next;
    const bool last = static_cast<bool>(store::Identifier::Parse(message->NextMsgGUID(), next));
    work_.list.FirstMsgGUID(last ? work_.list.ListId() : next);
    message->NextMsgGUID(current_.list.ListId());
    message->HeadGUID(current_.list.ListId());
    current_.list.FirstMsgGUID(message->MessageId());
  }

  OwnList work_, current_, last_sent_;
};

TEST_F(DovelQueue, PostedDispatchedAndTakenThePosterLeaves) {
  platform::ChildProcess poster(DovelLine({"post", work_.id(), "hello", "--name", "greeting", "--current",
                                           current_.id(), "--wait", kWaitSeconds, "--local"}));
  const std::string id = poster.ReadLine();
  ASSERT_EQ(id.size(), 38u) << id;

  const DovelRun watched =
      RunDovel({"watch", work_.id(), current_.id(), last_sent_.id(), "--count", "2", "--interval", "10"});
  EXPECT_EQ(watched.status, 0) << watched.err;
  const std::vector<std::string> lines = Lines(watched.out);
  ASSERT_EQ(lines.size(), 2u) << "piped, every refresh is a line of its own: " << watched.out;
  for (const std::string& line : lines) EXPECT_THAT(line, StartsWith("queued 1 | current - | last sent - | rate "));
  EXPECT_EQ(watched.out.find_first_of("\r\x1b"), std::string::npos);
  const auto state = nlohmann::json::parse(
      RunDovel({"watch", work_.id(), current_.id(), last_sent_.id(), "--count", "1", "--json"}).out);
  EXPECT_EQ(state["length"], 1);
  EXPECT_TRUE(state["current"].is_null());
  EXPECT_TRUE(state["rate_per_minute"].is_null()) << "no rate before any time has passed";

  Dispatch();
  const DovelRun taken = RunDovel({"take", current_.id(), last_sent_.id(), "--json"});
  EXPECT_EQ(taken.status, 0) << taken.err;
  const auto message = nlohmann::json::parse(taken.out);
  EXPECT_EQ(message["id"], id);
  EXPECT_EQ(message["name"], "greeting");
  EXPECT_EQ(message["data_text"], "hello");
  EXPECT_EQ(message["auto"], false);
  EXPECT_EQ(poster.Wait(), 0) << "the poster stays until its message is taken, then leaves";

  const DovelRun nothing = RunDovel({"take", current_.id(), last_sent_.id()});
  EXPECT_EQ(nothing.status, 0) << nothing.err;
  EXPECT_EQ(nothing.out, "") << "nothing to take prints nothing";
  EXPECT_EQ(RunDovel({"take", current_.id(), last_sent_.id(), "--json"}).out, "null\n");
}

TEST_F(DovelQueue, WithoutTheCurrentListThePosterLeavesAfterTheDispatchAndItsHold) {
  platform::ChildProcess poster(
      DovelLine({"post", work_.id(), "x", "--auto", "--hold", "0", "--wait", kWaitSeconds, "--local"}));
  ASSERT_EQ(poster.ReadLine().size(), 38u);
  const auto queued = nlohmann::json::parse(RunDovel({"show", work_.id(), "--json"}).out);
  ASSERT_EQ(queued["messages"].size(), 1u);
  EXPECT_EQ(queued["messages"][0]["auto"], true);
  EXPECT_EQ(queued["messages"][0]["name"], "dovel") << "the default name";
  Dispatch();
  EXPECT_EQ(poster.Wait(), 0);
}

TEST_F(DovelQueue, APosterWhoseMessageIsNeverDispatchedGivesUp) {
  const DovelRun run = RunDovel({"post", work_.id(), "x", "--wait", "1", "--local"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.size(), 39u) << "the identifier was printed before the wait";
  EXPECT_THAT(run.err, HasSubstr("dovel: post: gave up after 1 s"));
  const auto left = nlohmann::json::parse(RunDovel({"show", work_.id(), "--json"}).out);
  EXPECT_EQ(left["messages"].size(), 0u);
  EXPECT_EQ(left["complete"], false) << "the message went with the poster; the queue links to nothing";
}

}  // namespace
}  // namespace dovel::tools_test
