#include "store/list_walk.h"

#include <set>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"

namespace dovel::store {

ListWalk WalkList(const clsMessages& head, std::size_t max_messages) {
  ListWalk walk;
  std::set<std::u16string> seen;
  try {
    if (head.FirstMsgGUID() == head.ListGUID()) return walk;
    std::error_code failure;
    std::shared_ptr<clsMessage> message = head.FirstMsg(failure);
    while (true) {
      if (message == nullptr) {
        // FirstMsg or NextMessage failed (already reported). None without a
        // failure: another process changed the links after they were read.
        walk.error = failure ? failure : std::error_code(RuntimeError::kBrokenChain);
        return walk;
      }
      // The identifier the link named, not the message's own field: a
      // writer that never filled that field must not break the walk.
      std::u16string guid = message->MessageId().str();
      if (walk.messages.size() >= max_messages || !seen.insert(guid).second) {
        walk.error = RuntimeError::kBrokenChain;
        return walk;
      }
      walk.messages.push_back(std::move(guid));
      const std::u16string next = message->NextMsgGUID();
      if (next == head.ListGUID()) return walk;
      if (next == message->HeadGUID()) {
        // The chain ends, but at some other list's head.
        walk.error = RuntimeError::kBrokenChain;
        return walk;
      }
      message = message->NextMessage(failure);
    }
  } catch (...) {
    walk.error = config::TrappedError();
  }
  return walk;
}

}  // namespace dovel::store
