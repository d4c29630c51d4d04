// A walk over a list whose blocks hold whatever other processes wrote.
//
// Input: the list head's first 76 bytes (its FirstMsgGUID), then up to three
// message blocks of 1024 bytes each. The head is identifier 0 and the
// messages 1 to 3, so links between them are code units the fuzzer can find.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "config/mod_globals.h"
#include "fuzz_blocks.h"
#include "fuzz_check.h"
#include "platform/core/current.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/cls_messages.h"
#include "store/list_walk.h"
#include "support/fake_shared_memory.h"

namespace {

namespace layout = dovel::store::layout;
using dovel::fuzz::UnitsAt;

constexpr std::size_t kMessages = 3;
constexpr std::size_t kHeadBytes = layout::kIdentifierBytes;
constexpr std::size_t kBlock = dovel::platform::kBlockSize;

struct MessageBlock {
  const std::byte* view = nullptr;
  std::vector<std::byte> before;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kHeadBytes + kMessages * kBlock) return -1;
  dovel::testing::FakeSharedMemory memory;
  dovel::platform::ScopedOverride<dovel::platform::SharedMemory> use_memory(memory);
  g_oErrorObject.reset();  // reports of broken links go nowhere

  const std::u16string head_id = dovel::fuzz::BlockIdentifier(0);
  const std::byte* head_view = dovel::fuzz::PlaceBlock(memory, head_id, data, std::min(size, kHeadBytes));
  DOVEL_FUZZ_CHECK(head_view != nullptr);
  std::array<MessageBlock, kMessages> blocks;
  for (std::size_t i = 0; i < kMessages; ++i) {
    const std::size_t start = std::min(size, kHeadBytes + i * kBlock);
    const std::size_t length = std::min(size - start, kBlock);
    blocks[i].view =
        dovel::fuzz::PlaceBlock(memory, dovel::fuzz::BlockIdentifier(static_cast<int>(i) + 1), data + start, length);
    DOVEL_FUZZ_CHECK(blocks[i].view != nullptr);
    blocks[i].before.assign(blocks[i].view, blocks[i].view + kBlock);
  }
  auto stored = [&](std::size_t i, std::uint32_t offset) {
    return UnitsAt(blocks[i].view, offset, layout::kIdentifierBytes);
  };

  {
    dovel::store::clsMessages head;
    DOVEL_FUZZ_CHECK(head.Load(head_id) == 0);
    const dovel::store::ListWalk walk = dovel::store::WalkList(head);
    // A link names no block, is no identifier, or the chain does not come back.
    DOVEL_FUZZ_CHECK(!walk.error || walk.error == dovel::SystemError::kFileNotFound ||
                     walk.error == dovel::SystemError::kInvalidName || walk.error == dovel::RuntimeError::kBrokenChain);

    // The head is never walked as a message, and no message twice: at most
    // one entry per message block, each the name of that block (the link
    // that reached it, whatever the block holds at its start).
    DOVEL_FUZZ_CHECK(walk.messages.size() <= kMessages);
    DOVEL_FUZZ_CHECK(std::set<std::u16string>(walk.messages.begin(), walk.messages.end()).size() ==
                     walk.messages.size());
    for (const auto& guid : walk.messages) {
      bool held = false;
      for (std::size_t i = 0; i < kMessages; ++i) {
        held = held || dovel::fuzz::BlockIdentifier(static_cast<int>(i) + 1) == guid;
      }
      DOVEL_FUZZ_CHECK(held);
    }

    // A walk that ended well ended on a link back to this head.
    if (!walk.error && walk.messages.empty()) {
      DOVEL_FUZZ_CHECK(UnitsAt(head_view, layout::kFirstMsgGuid, layout::kIdentifierBytes) == head_id);
    }
    if (!walk.error && !walk.messages.empty()) {
      bool closes = false;
      for (std::size_t i = 0; i < kMessages; ++i) {
        closes = closes || (dovel::fuzz::BlockIdentifier(static_cast<int>(i) + 1) == walk.messages.back() &&
                            stored(i, layout::kNextMsgGuid) == head_id);
      }
      DOVEL_FUZZ_CHECK(closes);
    }

    // A bounded walk is the same walk cut short, and says so when it is.
    for (std::size_t bound = 0; bound < walk.messages.size(); ++bound) {
      const dovel::store::ListWalk cut = dovel::store::WalkList(head, bound);
      DOVEL_FUZZ_CHECK(cut.messages.size() == bound);
      DOVEL_FUZZ_CHECK(std::equal(cut.messages.begin(), cut.messages.end(), walk.messages.begin()));
      DOVEL_FUZZ_CHECK(cut.error == dovel::RuntimeError::kBrokenChain);
    }
  }

  // Walking writes nothing, and every handle it took is given back.
  for (const auto& block : blocks) DOVEL_FUZZ_CHECK(std::equal(block.before.begin(), block.before.end(), block.view));
  DOVEL_FUZZ_CHECK(memory.open_handles() == 1 + kMessages);
  DOVEL_FUZZ_CHECK(memory.bad_releases() == 0);
  return 0;
}
