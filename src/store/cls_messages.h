#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "store/block_attachment.h"
#include "store/cls_message.h"
#include "store/identifier.h"

namespace dovel::store {

// The typed view of one list-head block: the entry point of a message list.
// The list's own identifier is the block's name and is kept in the instance;
// an empty list is one whose FirstMsgGUID is that identifier.
//
// Create and Load report their own failures and return a result code, as
// clsMessage's do; their forms on an Identifier return it as a status.
// FirstMsgGUID passes its errors on (13 detached, 160 for a value that is not
// exactly 38 characters, 123 for one not of the registry form, nothing
// written then). A second Create or Load lets go of the first block before
// it attaches again.
class clsMessages {
 public:
  [[nodiscard]] std::int32_t Create(std::u16string_view sGUID);
  [[nodiscard]] std::int32_t Load(std::u16string_view sGUID);
  [[nodiscard]] std::error_code Create(const Identifier& id);
  [[nodiscard]] std::error_code Load(const Identifier& id);

  std::u16string FirstMsgGUID() const;
  void FirstMsgGUID(std::u16string_view szVal);
  void FirstMsgGUID(const Identifier& id);

  // The first message, separately attached; none for an empty list or on
  // failure (reported).
  std::shared_ptr<clsMessage> FirstMsg() const;
  // The same, saying in `failure` why it gave none on a failure (success for
  // an empty list): for a link that cannot be followed, the status its Load
  // trapped.
  std::shared_ptr<clsMessage> FirstMsg(std::error_code& failure) const;

  // True when the head says the list is empty, read in place without a
  // copy: the idle case of every tick. Another process may be changing the
  // head; a caller that goes on takes the list's lock and reads it again.
  bool LooksEmpty() const;

  // The identifier this instance was created or loaded with (38 U+0000
  // before the first Create or Load).
  std::u16string_view ListGUID() const { return m_szGUID.view(); }
  const Identifier& ListId() const { return m_szGUID; }

 private:
  friend class ListLock;

  // As clsMessage's: Create or Load by mode, reported under its site.
  [[nodiscard]] std::error_code Attach(std::u16string_view sGUID, BlockAttachment::Mode mode);
  [[nodiscard]] std::error_code Attach(const Identifier& id, BlockAttachment::Mode mode);
  [[nodiscard]] std::error_code AttachBlock(const Identifier& id, BlockAttachment::Mode mode);

  mutable BlockAttachment block_;
  Identifier m_szGUID;
};

}  // namespace dovel::store
