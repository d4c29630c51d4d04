// Block-level calls of the C library: what a block holds, and the sweep.
#include "client/block_kind.h"
#include "client/c_boundary.h"
#include "dovel/client.h"
#include "platform/shared_memory/shared_memory.h"

extern "C" {

dovel_result dovel_block_kind_of(const char* id, dovel_block_kind* kind) {
  if (kind == nullptr) return dovel::client::Finish(DOVEL_INVALID_ARGUMENT);
  return dovel::client::Guarded([&]() -> std::error_code {
    dovel::store::Identifier block;
    if (const std::error_code refused = dovel::client::ParseCallerId(id, block)) return refused;
    return dovel::client::KindOfBlock(block, *kind);
  });
}

dovel_result dovel_sweep(int* removed) {
  return dovel::client::Guarded([&]() -> std::error_code {
    const int count = dovel::platform::SweepStaleBlocks();
    if (removed != nullptr) *removed = count;
    return {};
  });
}

}  // extern "C"
