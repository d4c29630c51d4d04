// The C library against a real engine on virtual time: what a client in
// any language sees across the boundary.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dovel/client.h"
#include "engine/engine_fixture.h"
#include "platform/automation/text.h"
#include "store/block_layout.h"
#include "store/store_test_support.h"

namespace dovel::testing {
namespace {

using platform::automation::ToUtf8;

struct QueueCloser {
  void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
};
using Queue = std::unique_ptr<dovel_queue, QueueCloser>;

struct ListFreer {
  void operator()(dovel_list* list) const { dovel_list_free(list); }
};
struct MessageFreer {
  void operator()(dovel_message* message) const { dovel_message_free(message); }
};

class ClientLibrary : public EngineTest {
 protected:
  void SetUp() override {
    engine_ = Start();
    work_ = ToUtf8(engine_->WorkQueueGUID);
    current_ = ToUtf8(engine_->CurrentMsgGUID);
    last_ = ToUtf8(engine_->LastSentMsgGUID);
  }
  void TearDown() override { engine_->Form_Unload(); }

  Queue Open(const char* work, const char* current, const char* last) {
    dovel_queue* queue = nullptr;
    EXPECT_EQ(dovel_queue_open(work, current, last, &queue), DOVEL_OK);
    return Queue(queue);
  }
  Queue OpenAll() { return Open(work_.c_str(), current_.c_str(), last_.c_str()); }

  std::string Post(dovel_queue* queue, const char* name) {
    char id[DOVEL_ID_BUFFER] = {};
    EXPECT_EQ(dovel_queue_post(queue, name, "x", 1, 0, id), DOVEL_OK) << name;
    return id;
  }

  // The names of the messages of a list, in chain order.
  std::vector<std::string> Names(const std::string& head) {
    dovel_list* raw = nullptr;
    EXPECT_EQ(dovel_list_read(head.c_str(), 0, &raw), DOVEL_OK);
    const std::unique_ptr<dovel_list, ListFreer> list(raw);
    EXPECT_EQ(dovel_list_status(list.get()), DOVEL_OK);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < dovel_list_count(list.get()); ++i) {
      dovel_message* message = nullptr;
      EXPECT_EQ(dovel_message_read(dovel_list_id(list.get(), i), &message), DOVEL_OK);
      names.emplace_back(dovel_message_name(message));
      dovel_message_free(message);
    }
    return names;
  }

  void Tick() { engine_->tmrWorker_Timer(); }

  std::shared_ptr<engine::frmMsgQueue> engine_;
  std::string work_, current_, last_;
};

TEST_F(ClientLibrary, RefusesWhatItCannotUseWithAResultAndTheSystemCode) {
  dovel_queue* queue = nullptr;
  EXPECT_EQ(dovel_queue_open(work_.c_str(), nullptr, nullptr, nullptr), DOVEL_INVALID_ARGUMENT);
  EXPECT_EQ(dovel_queue_open("{short}", nullptr, nullptr, &queue), DOVEL_BAD_IDENTIFIER);
  EXPECT_EQ(dovel_queue_open("{0000HALF-WRIT-TEN0-0000-000000000000}", nullptr, nullptr, &queue), DOVEL_BAD_IDENTIFIER);
  EXPECT_EQ(dovel_queue_open("{00000000-0000-0000-0000-000000000001}", nullptr, nullptr, &queue), DOVEL_NOT_FOUND);
  EXPECT_EQ(dovel_last_system_code(), 2);
  EXPECT_EQ(queue, nullptr);

  // A poster's handle has no current list to take from.
  const Queue poster = Open(work_.c_str(), nullptr, nullptr);
  EXPECT_EQ(dovel_queue_take(poster.get(), nullptr), DOVEL_INVALID_ARGUMENT);
  char id[DOVEL_ID_BUFFER];
  EXPECT_EQ(dovel_queue_list_id(poster.get(), DOVEL_LAST_SENT, id), DOVEL_INVALID_ARGUMENT);

  const std::string too_long_name(store::layout::kTextCapacityBytes / 2 + 1, 'n');
  const std::string fifty_units_of_two_bytes(store::layout::kTextCapacityBytes / 2 * 2, '\xC3');
  const std::vector<char> too_much_data(store::layout::kDataCapacityBytes + 1, 'd');
  EXPECT_EQ(dovel_queue_post(poster.get(), too_long_name.c_str(), nullptr, 0, 0, id), DOVEL_TOO_LONG);
  EXPECT_EQ(dovel_queue_post(poster.get(), "d", too_much_data.data(), too_much_data.size(), 0, id), DOVEL_TOO_LONG);
  EXPECT_EQ(dovel_queue_post(poster.get(), "\xC3(", nullptr, 0, 0, id), DOVEL_BAD_TEXT);
  EXPECT_EQ(dovel_queue_post(poster.get(), fifty_units_of_two_bytes.c_str(), nullptr, 0, 0, id), DOVEL_BAD_TEXT);
  EXPECT_EQ(dovel_queue_post(poster.get(), "d", nullptr, 3, 0, id), DOVEL_INVALID_ARGUMENT);
  size_t length = 99;
  EXPECT_EQ(dovel_queue_length(poster.get(), &length), DOVEL_OK);
  EXPECT_EQ(length, 0u) << "a refused post linked something";
  // Fifty two-byte characters fit: the limit is in UTF-16 units.
  const std::string fifty_e_acute = [] {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "\xC3\xA9";
    return text;
  }();
  EXPECT_EQ(dovel_queue_post(poster.get(), fifty_e_acute.c_str(), nullptr, 0, 0, id), DOVEL_OK);
  EXPECT_EQ(std::string(id).size(), std::size_t{DOVEL_ID_LENGTH});
  EXPECT_STRNE(dovel_result_text(DOVEL_TOO_LONG), dovel_result_text(DOVEL_BAD_TEXT));
}

TEST_F(ClientLibrary, PostersInterleavingKeepChainOrderAndTheHintFollowsDispatch) {
  const Queue first = Open(work_.c_str(), nullptr, nullptr);
  const Queue second = Open(work_.c_str(), nullptr, nullptr);
  Post(first.get(), "a");
  Post(second.get(), "b");
  // The first poster's hint no longer ends the queue: it must find "b".
  Post(first.get(), "c");
  Post(first.get(), "d");
  EXPECT_EQ(Names(work_), (std::vector<std::string>{"a", "b", "c", "d"}));

  // Everything goes out; the hinted message is now elsewhere, and the
  // next post starts the queue afresh.
  const Queue taker = Open(nullptr, current_.c_str(), last_.c_str());
  for (int i = 0; i < 4; ++i) {
    Tick();
    EXPECT_EQ(dovel_queue_take(taker.get(), nullptr), DOVEL_OK);
  }
  Post(first.get(), "e");
  EXPECT_EQ(Names(work_), (std::vector<std::string>{"e"}));
}

TEST_F(ClientLibrary, MessagesTheEngineCutOffNeitherCatchNewPostsNorStayWaiting) {
  const Queue poster = Open(work_.c_str(), nullptr, nullptr);
  const Queue other = Open(work_.c_str(), nullptr, nullptr);
  {
    const Queue gone = Open(work_.c_str(), nullptr, nullptr);
    Post(gone.get(), "vanishes");
    Post(poster.get(), "a");
    Post(poster.get(), "b");
  }
  // The head's block went with its poster: the engine empties the queue,
  // and "a" and "b" still name it in both links.
  Tick();
  EXPECT_EQ(Names(work_), std::vector<std::string>{});
  Post(other.get(), "q");
  Post(poster.get(), "c");
  EXPECT_EQ(Names(work_), (std::vector<std::string>{"q", "c"}));
  size_t waiting = 0;
  EXPECT_EQ(dovel_queue_waiting(poster.get(), &waiting), DOVEL_OK);
  EXPECT_EQ(waiting, 1u) << "messages cut off are lost, not waiting";
}

TEST_F(ClientLibrary, APostedMessageLivesUntilTakenAndReplacedThenGoes) {
  const Queue poster = Open(work_.c_str(), current_.c_str(), nullptr);
  const Queue taker = Open(nullptr, current_.c_str(), last_.c_str());
  char taken[DOVEL_ID_BUFFER] = {};
  EXPECT_EQ(dovel_queue_take(taker.get(), taken), DOVEL_EMPTY);

  const std::string hello = Post(poster.get(), "Hello");
  size_t waiting = 0;
  EXPECT_EQ(dovel_queue_waiting(poster.get(), &waiting), DOVEL_OK);
  EXPECT_EQ(waiting, 1u);
  Tick();
  EXPECT_EQ(dovel_queue_waiting(poster.get(), &waiting), DOVEL_OK);
  EXPECT_EQ(waiting, 1u) << "the current message is still waiting for its client";
  ASSERT_EQ(dovel_queue_take(taker.get(), taken), DOVEL_OK);
  EXPECT_EQ(taken, hello);
  EXPECT_EQ(dovel_queue_waiting(poster.get(), &waiting), DOVEL_OK);
  EXPECT_EQ(waiting, 0u);

  dovel_message* raw = nullptr;
  ASSERT_EQ(dovel_message_read(taken, &raw), DOVEL_OK);
  const std::unique_ptr<dovel_message, MessageFreer> message(raw);
  EXPECT_STREQ(dovel_message_name(message.get()), "Hello");
  EXPECT_EQ(dovel_message_head_id(message.get()), last_);
  EXPECT_STREQ(dovel_message_owner_id(message.get()), "") << "an identifier never written reads as empty";
  size_t size = 0;
  const uint8_t* data = dovel_message_data(message.get(), &size);
  ASSERT_EQ(size, 1u);
  EXPECT_EQ(data[0], 'x');

  // A newer message replaces it as last sent; once its poster has seen that
  // and the taker has let go, no process holds it any more.
  Post(poster.get(), "World");
  Tick();
  ASSERT_EQ(dovel_queue_take(taker.get(), nullptr), DOVEL_OK);
  Post(poster.get(), "!");
  raw = nullptr;
  EXPECT_EQ(dovel_message_read(hello.c_str(), &raw), DOVEL_NOT_FOUND);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(Names(last_), (std::vector<std::string>{"World"}));
}

TEST_F(ClientLibrary, WalksAndReadsSurviveWhatAnotherProcessWrote) {
  const Queue poster = Open(work_.c_str(), nullptr, nullptr);
  const std::string a = Post(poster.get(), "a");
  const std::string b = Post(poster.get(), "b");
  // Another process points "b" back at "a" and writes a name with a NUL
  // and a count far past the field.
  RawBlock second(std::u16string(b.begin(), b.end()));
  ASSERT_TRUE(second.ok());
  second.SetText(store::layout::kNextMsgGuid, std::u16string(a.begin(), a.end()));
  second.set16(store::layout::kNameCount, 4000);
  second.SetText(store::layout::kNameText, std::u16string(u"b\0c", 3));

  dovel_list* raw = nullptr;
  ASSERT_EQ(dovel_list_read(work_.c_str(), 0, &raw), DOVEL_OK);
  const std::unique_ptr<dovel_list, ListFreer> loop(raw);
  EXPECT_EQ(dovel_list_status(loop.get()), DOVEL_BROKEN_CHAIN);
  EXPECT_EQ(dovel_list_count(loop.get()), 2u);
  EXPECT_EQ(dovel_list_id(loop.get(), 2), nullptr);

  dovel_message* message = nullptr;
  ASSERT_EQ(dovel_message_read(b.c_str(), &message), DOVEL_OK);
  // A count past the field reads the whole field; a NUL reads as U+FFFD.
  EXPECT_EQ(std::string(dovel_message_name(message)).substr(0, 5),
            "b\xEF\xBF\xBD"
            "c");
  dovel_message_free(message);

  dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
  EXPECT_EQ(dovel_block_kind_of(work_.c_str(), &kind), DOVEL_OK);
  EXPECT_EQ(kind, DOVEL_BLOCK_LIST);
  EXPECT_EQ(dovel_block_kind_of(a.c_str(), &kind), DOVEL_OK);
  EXPECT_EQ(kind, DOVEL_BLOCK_MESSAGE);
  EXPECT_EQ(dovel_list_read(a.c_str(), 0, &raw), DOVEL_WRONG_KIND);
  EXPECT_EQ(dovel_message_read(work_.c_str(), &message), DOVEL_WRONG_KIND);
}

}  // namespace
}  // namespace dovel::testing
