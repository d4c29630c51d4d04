#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "store/cls_messages.h"

namespace dovel::store {

// A whole list read from its head: the identifiers of its messages in chain
// order, and whether the chain came back to the head as it should.
struct ListWalk {
  std::vector<std::u16string> messages;
  // Success when the walk reached the end of the list; otherwise why it
  // stopped: RuntimeError::kBrokenChain for a chain that loops without
  // returning to its head or is longer than `max_messages`, or the status of
  // a message that could not be read or loaded (SystemError::kInvalidName
  // for a link that is no identifier).
  std::error_code error;
};

// Walks the list under `head` (FirstMsg, then NextMessage until none). The
// store itself never loops; this is the helper for tools and tests, and it
// ends on any chain another process may have written: a message seen twice
// is a broken chain, and so is one longer than `max_messages`.
[[nodiscard]] ListWalk WalkList(const clsMessages& head, std::size_t max_messages = 1u << 20);

}  // namespace dovel::store
