#pragma once

#include <cstdint>
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
// SendData, and keep the last-sent list up to date.
//
// A block lives only while some process holds it, so the client keeps every
// message it posted or took open until a newer message replaces it as last
// sent.
// Not thread-safe: one client object per thread.
class QueueClient {
 public:
  // Opens the three lists of a queue object by their identifiers. Check
  // ok() or status() afterwards; the operations of a client that could not
  // open them fail with that status.
  QueueClient(std::u16string_view work_queue, std::u16string_view current, std::u16string_view last_sent);

  bool ok() const { return !status_; }
  // Why the lists could not be opened: the refusal of an identifier (160 or
  // 123) or the status of a list head's Load.
  [[nodiscard]] std::error_code status() const { return status_; }

  // A new message linked at the end of the work queue: its identifier.
  [[nodiscard]] Result<store::Identifier> Post(std::u16string_view name, bool automatic = false,
                                               std::vector<std::uint8_t> data = {});

  // The message SendData announced: empties the current-message list, makes
  // the message the head of the last-sent list and returns its name (empty,
  // and success, when there was none). When it was taken but could not be
  // made last sent, its name comes with that failure.
  [[nodiscard]] Result<std::u16string> TakeCurrent();

  // How many messages wait in the work queue; on a failure, how many were
  // read before it.
  [[nodiscard]] Result<std::size_t> Queued() const;

  // Makes the message `guid` the only message of the last-sent list and
  // lets go of the one it replaces.
  [[nodiscard]] std::error_code MarkLastSent(const store::Identifier& guid);

 private:
  store::Identifier work_queue_guid_, current_guid_, last_sent_guid_;
  // Behind pointers so that a client can be moved.
  std::unique_ptr<store::clsMessages> work_queue_ = std::make_unique<store::clsMessages>();
  std::unique_ptr<store::clsMessages> current_ = std::make_unique<store::clsMessages>();
  std::unique_ptr<store::clsMessages> last_sent_ = std::make_unique<store::clsMessages>();
  // Messages this client keeps alive: posted and not yet sent, plus the
  // current last-sent one.
  std::vector<std::shared_ptr<store::clsMessage>> held_;
  std::error_code status_;
};

}  // namespace dovel::client
