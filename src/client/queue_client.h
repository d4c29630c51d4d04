#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/identifier.h"

namespace dovel::client {

// What an operation of the client gives back: its value, and why it failed
// (success when it did not). Without a word to the contrary, the value of
// a failed operation is its default.
template <class T>
struct [[nodiscard]] Result {
  T value{};
  std::error_code error;

  explicit operator bool() const noexcept { return !error; }
};

// The client's side of a queue, through shared memory only: post messages
// at the end of the work queue, take the message the server hands over with
// SendData, and keep the last-sent list up to date. The C library
// (dovel/client.h) is this class behind a C boundary.
//
// A block lives only while some process holds it. The client holds every
// message it posted until the message has left the work queue and whichever
// list it went to next no longer has it first (taken, then replaced as last
// sent); it holds the message it made last sent until another replaces it.
//
// Posting behind a long queue: the client remembers the last message it
// linked and, under the list's lock, checks that it still ends the work
// queue (its head and next link both name the work queue, and the queue
// starts with one of this client's messages) before it falls back to
// walking the chain. Another poster's message at the end or at the start
// of the queue sends a post to the walk.
// Not thread-safe: one client object per thread.
class QueueClient {
 public:
  // Opens the lists of a queue object by their identifiers. An empty
  // identifier leaves that list out: a poster needs only the work queue, a
  // taker only the current and last-sent lists; an operation that needs a
  // list left out fails with kInvalidParameter. Check ok() or status()
  // afterwards; the operations of a client that could not open its lists
  // fail with that status.
  QueueClient(std::u16string_view work_queue, std::u16string_view current, std::u16string_view last_sent);

  bool ok() const { return !status_; }
  // Why the lists could not be opened: the refusal of an identifier (160 or
  // 123) or the status of a list head's Load.
  [[nodiscard]] std::error_code status() const { return status_; }

  // A new message linked at the end of the work queue: its identifier.
  [[nodiscard]] Result<store::Identifier> Post(std::u16string_view name, bool automatic = false,
                                               std::vector<std::uint8_t> data = {});

  // The message SendData announced: empties the current-message list, makes
  // the message the head of the last-sent list and returns its identifier
  // (the default, and success, when there was none). When it was taken but
  // could not be made last sent, its identifier comes with that failure.
  [[nodiscard]] Result<store::Identifier> Take();

  // Take, giving the message's name instead.
  [[nodiscard]] Result<std::u16string> TakeCurrent();

  // How many messages wait in the work queue, counted under its lock; on a
  // failure, how many were read before it.
  [[nodiscard]] Result<std::size_t> Queued() const;

  // How many of the messages this client posted are still in the work
  // queue or, when the client knows it, the current list.
  [[nodiscard]] Result<std::size_t> Waiting() const;

  // Makes the message `guid` the only message of the last-sent list and
  // lets go of the one it replaces.
  [[nodiscard]] std::error_code MarkLastSent(const store::Identifier& guid);

  // Lets go of posted messages no list needs any more, oldest first. Post,
  // Take and MarkLastSent do it on the way; a holder that only posts now
  // and then calls it to let go sooner.
  void ReleaseDelivered();

  // The identifiers the client was opened with (the default for a list
  // left out).
  const store::Identifier& WorkQueueId() const { return work_queue_guid_; }
  const store::Identifier& CurrentId() const { return current_guid_; }
  const store::Identifier& LastSentId() const { return last_sent_guid_; }

 private:
  struct Taken {
    std::shared_ptr<store::clsMessage> message;
    std::error_code error;
  };
  [[nodiscard]] Taken TakeMessage();
  // The usable status of the list an operation needs.
  [[nodiscard]] std::error_code Needs(const std::unique_ptr<store::clsMessages>& list) const;
  // Links `guid` after the last message of the work queue; the caller holds
  // the list's lock.
  [[nodiscard]] std::error_code Append(const store::Identifier& guid);
  // Whether the work queue starts with the oldest of our queued messages.
  bool StartsWithOurs() const;
  // Lets go of messages that still name the work queue but are not on
  // `chain`, the whole queue as a walk read it: the engine cut them off.
  void ReleaseCutOff(const std::vector<std::u16string>& chain);

  store::Identifier work_queue_guid_, current_guid_, last_sent_guid_;
  // Behind pointers so that a client can be moved; null for a list left out.
  std::unique_ptr<store::clsMessages> work_queue_, current_, last_sent_;
  // Messages this client posted and still holds, oldest first.
  std::deque<std::shared_ptr<store::clsMessage>> posted_;
  // The message this client made last sent.
  std::shared_ptr<store::clsMessage> last_sent_message_;
  // The last message this client linked: where the next one most likely
  // goes.
  std::shared_ptr<store::clsMessage> tail_hint_;
  std::error_code status_;
};

}  // namespace dovel::client
