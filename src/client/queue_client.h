#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/cls_message.h"
#include "store/cls_messages.h"

namespace dovel::client {

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
  // ok() afterwards.
  QueueClient(std::u16string work_queue, std::u16string current, std::u16string last_sent);

  bool ok() const { return ok_; }

  // A new message linked at the end of the work queue; returns its
  // identifier, or an empty string on failure.
  std::u16string Post(std::u16string_view name, bool automatic = false,
                      std::vector<std::uint8_t> data = {});

  // The message SendData announced: empties the current-message list, makes
  // the message the head of the last-sent list and returns its name (empty
  // when there was none).
  std::u16string TakeCurrent();

  // How many messages wait in the work queue.
  std::size_t Queued() const;

  // Makes the message `guid` the only message of the last-sent list and
  // lets go of the one it replaces; false if its block cannot be opened.
  bool MarkLastSent(const std::u16string& guid);

 private:
  std::u16string work_queue_guid_, current_guid_, last_sent_guid_;
  // Behind pointers so that a client can be moved.
  std::unique_ptr<store::clsMessages> work_queue_ = std::make_unique<store::clsMessages>();
  std::unique_ptr<store::clsMessages> current_ = std::make_unique<store::clsMessages>();
  std::unique_ptr<store::clsMessages> last_sent_ = std::make_unique<store::clsMessages>();
  // Messages this client keeps alive: posted and not yet sent, plus the
  // current last-sent one.
  std::vector<std::shared_ptr<store::clsMessage>> held_;
  bool ok_ = false;
};

}  // namespace dovel::client
