// The lists of a queue object, for the Python client's tests, without a
// server. On start it creates three list heads (work queue, current,
// last sent) and prints their identifiers on one line; then it answers one
// line per command read from standard input, and lets go of every block it
// made when standard input ends.
//   dispatch  plays the engine's part once: moves the work queue's first
//             message to the empty current list. Answers "sent ID", "idle"
//             (nothing queued), "busy" (the current list is not empty) or
//             "error N".
//   loop      a list head H and messages A, B linked H -> A -> B -> A, a
//             chain that never comes back to its head: "H A B".
//   broken    a list head H and a message A whose next link names no
//             block: "H A".
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "platform/guid/guid_source.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/identifier.h"
#include "store/list_lock.h"

namespace {

using dovel::ErrorNumber;
using dovel::RuntimeError;
using dovel::SystemError;
using dovel::store::clsMessage;
using dovel::store::clsMessages;
using dovel::store::Identifier;

// Longer than the engine's tick: a test waits for its answer, and a lock
// another process holds briefly must not turn into a failure.
constexpr std::uint32_t kLockTimeoutMs = 2000;

Identifier NewIdentifier() {
  dovel::platform::Guid guid;
  if (const std::error_code failed = dovel::platform::CurrentGuidSource().CreateGuid(guid)) {
    dovel::config::Raise(failed);
  }
  return Identifier::From(guid);
}

// The engine's test for a link that can never be followed.
bool IsDeadLink(const std::error_code& failure) {
  return failure == SystemError::kFileNotFound || failure == SystemError::kAccessDenied ||
         failure == SystemError::kInvalidName || failure == RuntimeError::kBadIdentifierLength;
}

// The blocks this process made, held until it ends.
class Blocks {
 public:
  clsMessages& NewList() {
    auto list = std::make_unique<clsMessages>();
    if (const std::error_code failed = list->Create(NewIdentifier())) dovel::config::Raise(failed);
    lists_.push_back(std::move(list));
    return *lists_.back();
  }

  clsMessage& NewMessage(const clsMessages& list, const char16_t* name) {
    auto message = std::make_unique<clsMessage>();
    if (const std::error_code failed = message->Create(NewIdentifier())) dovel::config::Raise(failed);
    message->Name(name);
    message->HeadGUID(list.ListId());
    message->NextMsgGUID(list.ListId());
    messages_.push_back(std::move(message));
    return *messages_.back();
  }

 private:
  std::vector<std::unique_ptr<clsMessages>> lists_;
  std::vector<std::unique_ptr<clsMessage>> messages_;
};

// The list's first message; a head linking to a dead block is emptied, as
// the engine does, so the list does not stay stuck.
std::shared_ptr<clsMessage> FirstUsable(clsMessages& list) {
  std::error_code failure;
  std::shared_ptr<clsMessage> first = list.FirstMsg(failure);
  if (first == nullptr && IsDeadLink(failure)) list.FirstMsgGUID(list.ListId());
  return first;
}

// The engine's dispatch: the same four links, written under the work
// queue's lock so a client linking a new message never interleaves.
std::string Dispatch(clsMessages& work_queue, clsMessages& current) {
  const dovel::store::ListLock lock(work_queue, kLockTimeoutMs);
  if (!lock.held()) return "error " + std::to_string(ErrorNumber(lock.status()));
  const std::shared_ptr<clsMessage> message = FirstUsable(work_queue);
  if (message == nullptr) return "idle";
  if (FirstUsable(current) != nullptr) return "busy";

  Identifier next;
  const std::error_code unusable_next = Identifier::Parse(message->NextMsgGUID(), next);
  work_queue.FirstMsgGUID(unusable_next ? work_queue.ListId() : next);
  message->NextMsgGUID(current.ListId());
  message->HeadGUID(current.ListId());
  current.FirstMsgGUID(message->MessageId());
  return "sent " + message->MessageId().BlockName();
}

std::string Loop(Blocks& blocks) {
  clsMessages& head = blocks.NewList();
  clsMessage& first = blocks.NewMessage(head, u"a");
  clsMessage& second = blocks.NewMessage(head, u"b");
  head.FirstMsgGUID(first.MessageId());
  first.NextMsgGUID(second.MessageId());
  second.NextMsgGUID(first.MessageId());
  return head.ListId().BlockName() + " " + first.MessageId().BlockName() + " " + second.MessageId().BlockName();
}

std::string Broken(Blocks& blocks) {
  clsMessages& head = blocks.NewList();
  clsMessage& first = blocks.NewMessage(head, u"a");
  head.FirstMsgGUID(first.MessageId());
  first.NextMsgGUID(NewIdentifier());
  return head.ListId().BlockName() + " " + first.MessageId().BlockName();
}

std::string Answer(const std::string& command, Blocks& blocks, clsMessages& work_queue, clsMessages& current) {
  try {
    if (command == "dispatch") return Dispatch(work_queue, current);
    if (command == "loop") return Loop(blocks);
    if (command == "broken") return Broken(blocks);
    return "error unknown command";
  } catch (...) {
    return "error " + std::to_string(ErrorNumber(dovel::config::TrappedError()));
  }
}

}  // namespace

int main() {
  try {
    Blocks blocks;
    clsMessages& work_queue = blocks.NewList();
    clsMessages& current = blocks.NewList();
    clsMessages& last_sent = blocks.NewList();
    std::cout << work_queue.ListId().BlockName() << ' ' << current.ListId().BlockName() << ' '
              << last_sent.ListId().BlockName() << std::endl;
    std::string command;
    while (std::getline(std::cin, command)) {
      std::cout << Answer(command, blocks, work_queue, current) << std::endl;
    }
    return 0;
  } catch (...) {
    std::cerr << "list_host: error " << ErrorNumber(dovel::config::TrappedError()) << '\n';
    return 1;
  }
}
