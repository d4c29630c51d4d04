#include "store/list_walk.h"

#include <set>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "platform/core/system_error.h"

namespace dovel::store {

ListWalk WalkList(const clsMessages& head, std::size_t max_messages) {
  ListWalk walk;
  std::set<std::u16string> seen;
  try {
    if (head.FirstMsgGUID() == head.ListGUID()) return walk;
    std::shared_ptr<clsMessage> message = head.FirstMsg();
    while (true) {
      if (message == nullptr) {
        // FirstMsg or NextMessage could not open the block (already reported).
        walk.error = SystemError::kFileNotFound;
        return walk;
      }
      std::u16string guid = message->szGUID();
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
      message = message->NextMessage();
    }
  } catch (...) {
    walk.error = config::TrappedError();
  }
  return walk;
}

}  // namespace dovel::store
