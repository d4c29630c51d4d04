// Every read of a message block and of a list head, on a block whose 1024
// bytes are the input: another process may have written anything there.
//
// The input fills two blocks with the same bytes: a message (identifier 0)
// and a list head (identifier 1), so a head can point at the message and a
// message at either.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "config/error_styles.h"
#include "config/mod_globals.h"
#include "fuzz_blocks.h"
#include "fuzz_check.h"
#include "platform/core/current.h"
#include "store/block_layout.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "support/fake_shared_memory.h"

namespace {

namespace automation = dovel::platform::automation;
namespace layout = dovel::store::layout;
using dovel::fuzz::Int16At;
using dovel::fuzz::UnitsAt;

// A read of an attached block never fails, whatever the block holds.
template <class Read>
auto MustRead(Read read) {
  try {
    return read();
  } catch (const dovel::config::RaisedError& raised) {
    std::fprintf(stderr, "a read raised %d\n", dovel::ErrorNumber(raised.status));
    std::abort();
  }
}

std::u16string CountedText(const std::byte* view, std::uint32_t count_offset) {
  const std::int32_t count = std::clamp<std::int32_t>(Int16At(view, count_offset), 0, layout::kTextCapacityBytes);
  return UnitsAt(view, count_offset + 2, static_cast<std::size_t>(count));
}

std::u16string Identifier(const std::byte* view, std::uint32_t offset) {
  return UnitsAt(view, offset, layout::kIdentifierBytes);
}

void CheckMessage(const dovel::store::clsMessage& message, const std::byte* view) {
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.szGUID(); }) == Identifier(view, layout::kMessageGuid));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.Name(); }) == CountedText(view, layout::kNameCount));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.Priority(); }) == Int16At(view, layout::kPriority));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.Auto(); }) == (Int16At(view, layout::kAuto) != 0));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.OwnerName(); }) == CountedText(view, layout::kOwnerNameCount));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.OwnerGUID(); }) == Identifier(view, layout::kOwnerGuid));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.ClientGUID(); }) == Identifier(view, layout::kClientGuid));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.NextMsgGUID(); }) == Identifier(view, layout::kNextMsgGuid));
  DOVEL_FUZZ_CHECK(MustRead([&] { return message.HeadGUID(); }) == Identifier(view, layout::kHeadGuid));

  const automation::Variant data = MustRead([&] { return message.Data(); });
  const std::int32_t count = std::clamp<std::int32_t>(Int16At(view, layout::kDataCount), 0, layout::kDataCapacityBytes);
  if (count == 0) {
    DOVEL_FUZZ_CHECK(data.Is<automation::Empty>());
  } else {
    DOVEL_FUZZ_CHECK(data.Is<automation::ByteArray>());
    const auto& array = data.As<automation::ByteArray>();
    DOVEL_FUZZ_CHECK(array.lower_bound == 0);
    DOVEL_FUZZ_CHECK(array.bytes.size() == static_cast<std::size_t>(count));
    DOVEL_FUZZ_CHECK(std::memcmp(array.bytes.data(), view + layout::kDataBytes, array.bytes.size()) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > dovel::platform::kBlockSize) return -1;  // the rest could never reach a block
  dovel::testing::FakeSharedMemory memory;
  dovel::platform::ScopedOverride<dovel::platform::SharedMemory> use_memory(memory);
  g_oErrorObject.reset();  // reports of failed loads go nowhere

  const std::u16string message_id = dovel::fuzz::BlockIdentifier(0);
  const std::u16string head_id = dovel::fuzz::BlockIdentifier(1);
  const std::byte* message_view = dovel::fuzz::PlaceBlock(memory, message_id, data, size);
  const std::byte* head_view = dovel::fuzz::PlaceBlock(memory, head_id, data, size);
  DOVEL_FUZZ_CHECK(message_view != nullptr && head_view != nullptr);
  const std::vector<std::byte> before(message_view, message_view + dovel::platform::kBlockSize);

  {
    dovel::store::clsMessage message;
    DOVEL_FUZZ_CHECK(message.Load(message_id) == 0);
    CheckMessage(message, message_view);

    // The next message is the block the link names, unless the link is the
    // list's end; a name that is no block gives none.
    const std::u16string next_id = Identifier(message_view, layout::kNextMsgGuid);
    const bool next_exists = next_id == message_id || next_id == head_id;
    const std::shared_ptr<dovel::store::clsMessage> next = message.NextMessage();
    DOVEL_FUZZ_CHECK((next != nullptr) == (next_exists && next_id != Identifier(message_view, layout::kHeadGuid)));
    if (next != nullptr) CheckMessage(*next, next_id == message_id ? message_view : head_view);

    dovel::store::clsMessages head;
    DOVEL_FUZZ_CHECK(head.Load(head_id) == 0);
    const std::u16string first_id = Identifier(head_view, layout::kFirstMsgGuid);
    DOVEL_FUZZ_CHECK(MustRead([&] { return head.FirstMsgGUID(); }) == first_id);
    const std::shared_ptr<dovel::store::clsMessage> first = head.FirstMsg();
    // The head's own identifier is the empty list.
    DOVEL_FUZZ_CHECK((first != nullptr) == (first_id == message_id));
    if (first != nullptr) CheckMessage(*first, message_view);
  }

  // Reads write nothing, and every handle they took is given back.
  DOVEL_FUZZ_CHECK(std::equal(before.begin(), before.end(), message_view));
  DOVEL_FUZZ_CHECK(std::equal(before.begin(), before.end(), head_view));
  DOVEL_FUZZ_CHECK(memory.open_handles() == 2);
  DOVEL_FUZZ_CHECK(memory.bad_releases() == 0);
  return 0;
}
