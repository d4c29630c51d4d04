#include "store/cls_messages.h"

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/block_primitives.h"
#include "store/fields.h"

namespace dovel::store {

using config::PassingOn;
using config::Raise;

namespace {

const config::ReportSite& SiteOf(BlockAttachment::Mode mode) {
  return mode == BlockAttachment::Mode::kCreateOrOpen ? config::sites::kMessagesCreate : config::sites::kMessagesLoad;
}

}  // namespace

std::int32_t clsMessages::Create(std::u16string_view sGUID) {
  return ErrorNumber(Attach(sGUID, BlockAttachment::Mode::kCreateOrOpen));
}

std::int32_t clsMessages::Load(std::u16string_view sGUID) {
  return ErrorNumber(Attach(sGUID, BlockAttachment::Mode::kOpenExisting));
}

std::error_code clsMessages::Create(const Identifier& id) { return Attach(id, BlockAttachment::Mode::kCreateOrOpen); }

std::error_code clsMessages::Load(const Identifier& id) { return Attach(id, BlockAttachment::Mode::kOpenExisting); }

std::error_code clsMessages::Attach(std::u16string_view sGUID, BlockAttachment::Mode mode) {
  return config::ReportingStatus({SiteOf(mode), sGUID}, [&] { return AttachBlock(Identifier::From(sGUID), mode); });
}

std::error_code clsMessages::Attach(const Identifier& id, BlockAttachment::Mode mode) {
  return config::ReportingStatus({SiteOf(mode), id.view()}, [&] { return AttachBlock(id, mode); });
}

std::error_code clsMessages::AttachBlock(const Identifier& id, BlockAttachment::Mode mode) {
  // Kept before the block is touched, so the identifier survives a failure.
  m_szGUID = id;
  const std::error_code status = block_.Attach(id, mode);
  // A new head starts as an empty list; an existing one keeps its list.
  if (mode == BlockAttachment::Mode::kCreateOrOpen && status != SystemError::kAlreadyExists) FirstMsgGUID(id);
  return status;
}

std::u16string clsMessages::FirstMsgGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kFirstMsgGuid); });
}

void clsMessages::FirstMsgGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    WriteIdentifier(view, layout::kFirstMsgGuid, Identifier::From(szVal));
  });
}

void clsMessages::FirstMsgGUID(const Identifier& id) {
  PassingOn([&] { WriteIdentifier(block_.View(), layout::kFirstMsgGuid, id); });
}

bool clsMessages::LooksEmpty() const {
  return ViewStringEquals(block_.View(), layout::kFirstMsgGuid, ListGUID(), layout::kIdentifierBytes);
}

std::shared_ptr<clsMessage> clsMessages::FirstMsg() const {
  std::error_code failure;  // reported already: this form says only "none"
  return FirstMsg(failure);
}

std::shared_ptr<clsMessage> clsMessages::FirstMsg(std::error_code& failure) const {
  std::shared_ptr<clsMessage> first;
  failure = config::ReportingStatus({config::sites::kMessagesFirstMsg, ListGUID()}, [&]() -> std::error_code {
    // The empty list is the common case of every tick: compared in place.
    if (LooksEmpty()) return {};
    // Read once, and that value decides: another process may empty the
    // list in between, and its head must never be loaded as a message.
    const std::u16string first_guid = FirstMsgGUID();
    if (first_guid == ListGUID()) return {};
    auto loaded = std::make_shared<clsMessage>();
    if (const std::error_code status = loaded->Attach(first_guid, BlockAttachment::Mode::kOpenExisting)) Raise(status);
    first = std::move(loaded);
    return {};
  });
  return first;
}

}  // namespace dovel::store
