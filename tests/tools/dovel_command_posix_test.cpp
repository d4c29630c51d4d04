// `dovel` as a whole: what it answers to --help and to lines it does not
// take, and the subcommands that only look at blocks.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "dovel/client.h"
#include "tools/dovel_run_posix.h"

namespace dovel::tools_test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(DovelCommand, HelpSucceedsAndBadLinesAreUsageErrors) {
  const DovelRun help = RunDovel({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("Usage: dovel"));
  for (const char* subcommand : {"blocks", "show", "post", "take", "watch", "sweep", "reg", "block"}) {
    const DovelRun run = RunDovel({subcommand, "--help"});
    EXPECT_EQ(run.status, 0) << subcommand;
    EXPECT_THAT(run.out, HasSubstr(std::string("dovel ") + subcommand)) << subcommand;
  }
  EXPECT_EQ(RunDovel({"reg", "get", "--help"}).status, 0);

  const struct {
    std::vector<std::string> line;
    const char* usage;
  } usage_errors[] = {
      {{}, "Usage: dovel [OPTIONS] SUBCOMMAND"},
      {{"frobnicate"}, "no subcommand frobnicate"},
      {{"show"}, "Usage: dovel show"},
      {{"show", Text(NewId()), "--max", "0"}, "Usage: dovel show"},
      {{"watch", "a", "b", "c", "--interval", "soon"}, "Usage: dovel watch"},
      {{"take", "a"}, "Usage: dovel take"},
      {{"sweep", "everything"}, "Usage: dovel sweep"},
      {{"block", "read", "name"}, "Usage: dovel block create"},
  };
  for (const auto& error : usage_errors) {
    const DovelRun run = RunDovel(error.line);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(error.line);
    EXPECT_THAT(run.err, AllOf(HasSubstr("dovel: "), HasSubstr(error.usage)));
    EXPECT_EQ(run.out, "");
  }
}

TEST(DovelCommand, FailuresExitOneWithTheLibrarysReason) {
  const DovelRun missing = RunDovel({"show", Text(NewId())});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, AllOf(StartsWith("dovel: show {"), HasSubstr(dovel_result_text(DOVEL_NOT_FOUND))));
  const DovelRun bad = RunDovel({"show", "{not-an-identifier}"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.err, HasSubstr(dovel_result_text(DOVEL_BAD_IDENTIFIER)));
  const DovelRun post = RunDovel({"post", Text(NewId()), "lost"});
  EXPECT_EQ(post.status, 1);
  EXPECT_THAT(post.err, AllOf(StartsWith("dovel: post"), HasSubstr(dovel_result_text(DOVEL_NOT_FOUND))));
}

// A list whose last message links back to its first: the walk must end, say
// why, and keep what it read.
TEST(DovelCommand, ShowEndsALoopedListAndSaysSo) {
  OwnList list;
  const auto first = OwnMessage(u"first", list.list.ListId(), list.list.ListId());
  const auto second = OwnMessage(u"second", list.list.ListId(), first->MessageId());
  first->NextMsgGUID(second->MessageId());
  list.list.FirstMsgGUID(first->MessageId());

  const DovelRun text = RunDovel({"show", list.id()});
  EXPECT_EQ(text.status, 0) << text.err;
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 3u) << text.out;
  EXPECT_THAT(lines[0], StartsWith(Text(first->MessageId()) + "\tfirst\t-\t"));
  EXPECT_THAT(lines[1], StartsWith(Text(second->MessageId()) + "\tsecond\t"));
  EXPECT_THAT(lines[2], AllOf(StartsWith("-- "), HasSubstr("stopped after 2 messages")));

  const auto json = nlohmann::json::parse(RunDovel({"show", list.id(), "--json"}).out);
  EXPECT_EQ(json["kind"], "list");
  EXPECT_EQ(json["complete"], false);
  ASSERT_EQ(json["messages"].size(), 2u);
  EXPECT_EQ(json["messages"][1]["name"], "second");

  const auto bounded = Lines(RunDovel({"show", list.id(), "--max", "1"}).out);
  ASSERT_EQ(bounded.size(), 2u);
  EXPECT_THAT(bounded[1], HasSubstr("--max"));
}

TEST(DovelCommand, ShowGivesEveryFieldOfAMessage) {
  OwnList list;
  const auto message = OwnMessage(u"greeting\u00e9", list.list.ListId(), list.list.ListId());
  message->Auto(true);
  message->Data(platform::automation::ByteArray{0, {'h', 'i', 0xff}});
  const auto json = nlohmann::json::parse(RunDovel({"show", Text(message->MessageId()), "--json"}).out);
  EXPECT_EQ(json["kind"], "message");
  const auto& fields = json["message"];
  EXPECT_EQ(fields["name"], "greeting\u00e9");
  EXPECT_EQ(fields["auto"], true);
  EXPECT_EQ(fields["data_hex"], "6869ff");
  EXPECT_TRUE(fields["data_text"].is_null()) << "bytes that are no UTF-8 are given only as hex";
  EXPECT_EQ(fields["head"], list.id());
  EXPECT_TRUE(fields["owner_id"].is_null());
  EXPECT_THAT(RunDovel({"show", Text(message->MessageId())}).out, HasSubstr("\ndata: hex 6869ff (3 bytes)\n"));
}

TEST(DovelCommand, BlocksListsALiveListHeadAndItsMessage) {
  OwnList list;
  const auto message = OwnMessage(u"listed", list.list.ListId(), list.list.ListId());
  list.list.FirstMsgGUID(message->MessageId());

  const DovelRun run = RunDovel({"blocks", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  nlohmann::json head, listed;
  for (const auto& block : nlohmann::json::parse(run.out)) {
    if (block["name"] == list.id()) head = block;
    if (block["name"] == Text(message->MessageId())) listed = block;
  }
  ASSERT_TRUE(head.is_object() && listed.is_object()) << run.out;
  EXPECT_EQ(head["live"], true);
  EXPECT_EQ(head["kind"], "list");
  EXPECT_EQ(head["list"]["messages"], nlohmann::json::array({Text(message->MessageId())}));
  EXPECT_EQ(listed["kind"], "message");
  EXPECT_EQ(listed["message"]["name"], "listed");

  EXPECT_THAT(RunDovel({"blocks"}).out, HasSubstr(list.id() + "\tlive\tlist\t1 message\n"));
}

}  // namespace
}  // namespace dovel::tools_test
