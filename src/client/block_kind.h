#pragma once

#include <system_error>

#include "dovel/client.h"
#include "store/identifier.h"

namespace dovel::client {

// What the block `id` holds, judged from its layout: a message always has
// its own identifier at its start and, once linked, the identifier of its
// list head at the end; a list head holds only the identifier of its first
// message (its own when the list is empty) and zeros after it. An unlinked
// message with nothing else written looks exactly like an empty list head
// and is called one.
[[nodiscard]] std::error_code KindOfBlock(const store::Identifier& id, dovel_block_kind& kind);

}  // namespace dovel::client
