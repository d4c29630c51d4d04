#include "client/block_kind.h"

#include "platform/automation/variant.h"
#include "store/cls_message.h"

namespace dovel::client {

namespace {

bool IsIdentifier(const std::u16string& text) {
  store::Identifier parsed;
  return !store::Identifier::Parse(text, parsed);
}

// Whether anything besides the identifiers at the start and the end was
// written: only a message has such fields.
bool HasMessageFields(const store::clsMessage& block) {
  const std::u16string unset(store::Identifier::kLength, u'\0');
  return !block.Name().empty() || block.Priority() != 0 || block.Auto() ||
         !block.Data().Is<platform::automation::Empty>() || !block.OwnerName().empty() || block.OwnerGUID() != unset ||
         block.ClientGUID() != unset || block.NextMsgGUID() != unset;
}

}  // namespace

std::error_code KindOfBlock(const store::Identifier& id, dovel_block_kind& kind) {
  store::clsMessage block;
  if (const std::error_code loaded = block.Load(id)) return loaded;
  const std::u16string start = block.szGUID();
  const bool starts_with_identifier = IsIdentifier(start);
  if (IsIdentifier(block.HeadGUID()) || (starts_with_identifier && id == start && HasMessageFields(block))) {
    kind = DOVEL_BLOCK_MESSAGE;
  } else {
    kind = starts_with_identifier ? DOVEL_BLOCK_LIST : DOVEL_BLOCK_UNKNOWN;
  }
  return {};
}

}  // namespace dovel::client
