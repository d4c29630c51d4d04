#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "store/block_attachment.h"
#include "store/cls_message.h"

namespace dovel::store {

// The typed view of one list-head block: the entry point of a message list.
// The list's own identifier is the block's name and is kept in the instance;
// an empty list is one whose FirstMsgGUID is that identifier.
//
// Create and Load report their own failures and return a result code;
// FirstMsgGUID passes its errors on (13 detached, 160 for a value that is not
// exactly 38 characters, nothing written then). A second Create or Load lets
// go of the first block before it attaches again.
class clsMessages {
 public:
  std::int32_t Create(std::u16string_view sGUID);
  std::int32_t Load(std::u16string_view sGUID);

  std::u16string FirstMsgGUID() const;
  void FirstMsgGUID(std::u16string_view szVal);

  // The first message, separately attached; none for an empty list or on
  // failure (reported).
  std::shared_ptr<clsMessage> FirstMsg() const;
  // The same, saying in `failure` why a first message that the list links
  // to could not be loaded (0 when none was, or the list is empty).
  std::shared_ptr<clsMessage> FirstMsg(std::int32_t& failure) const;

  // True when the head says the list is empty, read in place without a
  // copy: the idle case of every tick. Another process may be changing the
  // head; a caller that goes on takes the list's lock and reads it again.
  bool LooksEmpty() const;

  // The identifier this instance was created or loaded with (38 U+0000
  // before the first Create or Load).
  std::u16string_view ListGUID() const { return {m_szGUID.data(), m_szGUID.size()}; }

 private:
  friend class ListLock;

  std::int32_t Attach(std::u16string_view sGUID, BlockAttachment::Mode mode);

  mutable BlockAttachment block_;
  // Fixed length, kept inline: every tick compares against it.
  std::array<char16_t, 38> m_szGUID{};
};

}  // namespace dovel::store
