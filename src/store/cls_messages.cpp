#include "store/cls_messages.h"

#include <algorithm>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/block_primitives.h"
#include "store/fields.h"

namespace dovel::store {

using config::PassingOn;
using config::Raise;

std::int32_t clsMessages::Attach(std::u16string_view sGUID, BlockAttachment::Mode mode) {
  if (sGUID.size() != static_cast<std::size_t>(layout::kIdentifierChars)) Raise(RuntimeError::kBadIdentifierLength);
  // Kept before the block is touched, so the identifier survives a failure.
  std::copy(sGUID.begin(), sGUID.end(), m_szGUID.begin());
  return block_.Attach(sGUID, mode);
}

std::int32_t clsMessages::Create(std::u16string_view sGUID) {
  return config::ReportingResult({config::sites::kMessagesCreate, sGUID}, [&] {
    const std::int32_t status = Attach(sGUID, BlockAttachment::Mode::kCreateOrOpen);
    // A new head starts as an empty list; an existing one keeps its list.
    if (status != 183) FirstMsgGUID(sGUID);
    return status;
  });
}

std::int32_t clsMessages::Load(std::u16string_view sGUID) {
  return config::ReportingResult({config::sites::kMessagesLoad, sGUID},
                                 [&] { return Attach(sGUID, BlockAttachment::Mode::kOpenExisting); });
}

std::u16string clsMessages::FirstMsgGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kFirstMsgGuid); });
}

void clsMessages::FirstMsgGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    if (szVal.size() != static_cast<std::size_t>(layout::kIdentifierChars)) Raise(RuntimeError::kBadIdentifierLength);
    WriteIdentifier(view, layout::kFirstMsgGuid, szVal);
  });
}

bool clsMessages::LooksEmpty() const {
  return ViewStringEquals(block_.View(), layout::kFirstMsgGuid, ListGUID(), layout::kIdentifierBytes);
}

std::shared_ptr<clsMessage> clsMessages::FirstMsg() const {
  std::int32_t failure = 0;
  return FirstMsg(failure);
}

std::shared_ptr<clsMessage> clsMessages::FirstMsg(std::int32_t& failure) const {
  failure = 0;
  std::shared_ptr<clsMessage> first;
  config::Reporting({config::sites::kMessagesFirstMsg, ListGUID()}, [&] {
    // The empty list is the common case of every tick: compared in place.
    if (LooksEmpty()) return;
    // Read once, and that value decides: another process may empty the
    // list in between, and its head must never be loaded as a message.
    const std::u16string first_guid = FirstMsgGUID();
    if (first_guid == ListGUID()) return;
    auto loaded = std::make_shared<clsMessage>();
    if (const std::int32_t result = loaded->Load(first_guid); result != 0) {
      failure = result;
      Raise(SystemStatus(result));
    }
    first = std::move(loaded);
  });
  return first;
}

}  // namespace dovel::store
