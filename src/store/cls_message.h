#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/automation/variant.h"
#include "store/block_attachment.h"
#include "store/identifier.h"

namespace dovel::store {

// The typed view of one message block. Nothing is cached: every get reads
// the block and every let writes it at once, so other processes see a change
// on their next read.
//
// Create and Load report their own failures and return a result code: 0,
// 183 when Create found the block existing, 160 or 123 for text that is no
// identifier, or the system's code. Their forms on an Identifier return the
// same as a status. The field accessors pass every error on to the caller:
// 13 when the instance is not attached, and the refusals below.
//
// Values the block cannot hold are refused before any byte is written:
// - Name / OwnerName over 50 code units: 380 (a byte length beyond 16 bits:
//   6, overflow);
// - Data over 256 bytes: 380; an element that is not a number 0-255: 6 or 13
//   (every element is converted before the count is written, so a refused
//   value leaves the field as it was);
// - an identifier shorter than 38 characters: 160; a longer one is cut to
//   its first 38, as stored identifiers always are; 38 characters not of
//   the registry form: 123.
// Counts written by another process are untrusted: a count above the area's
// capacity reads as the full area, an odd count drops its incomplete last
// byte, a count of 0 or below reads as empty.
//
// A second Create or Load on an attached instance lets go of the first block
// before it attaches again; if the new attach fails the instance is detached.
class clsMessage {
 public:
  [[nodiscard]] std::int32_t Create(std::u16string_view sGUID);
  [[nodiscard]] std::int32_t Load(std::u16string_view sGUID);
  [[nodiscard]] std::error_code Create(const Identifier& id);
  [[nodiscard]] std::error_code Load(const Identifier& id);

  // The identifier of the last Create or Load, kept even when it failed (the
  // default before the first). The block's name, read without touching the
  // block; szGUID is a field that another process may have rewritten.
  const Identifier& MessageId() const { return m_szGUID; }

  std::u16string szGUID() const;

  std::u16string Name() const;
  void Name(std::u16string_view szVal);

  std::int16_t Priority() const;
  void Priority(std::int16_t iVal);

  bool Auto() const;
  void Auto(bool boolVal);

  platform::automation::Variant Data() const;
  void Data(const platform::automation::Variant& varVal);

  std::u16string OwnerName() const;
  void OwnerName(std::u16string_view szVal);

  std::u16string OwnerGUID() const;
  void OwnerGUID(std::u16string_view szVal);

  std::u16string ClientGUID() const;
  void ClientGUID(std::u16string_view szVal);

  std::u16string NextMsgGUID() const;
  void NextMsgGUID(std::u16string_view szVal);
  void NextMsgGUID(const Identifier& id);

  std::u16string HeadGUID() const;
  void HeadGUID(std::u16string_view szVal);
  void HeadGUID(const Identifier& id);

  // The message after this one in its list, separately attached; none at the
  // end of the list or on failure (reported).
  std::shared_ptr<clsMessage> NextMessage() const;
  // The same, saying in `failure` why it gave none on a failure (success at
  // the end of the list): for a link that cannot be followed, the status
  // its Load trapped.
  std::shared_ptr<clsMessage> NextMessage(std::error_code& failure) const;

 private:
  // FirstMsg follows a head's link the way NextMessage follows a message's.
  friend class clsMessages;

  // Create or Load by mode, reported under its site; the text form checks
  // the identifier inside, so a refusal is reported there too.
  [[nodiscard]] std::error_code Attach(std::u16string_view sGUID, BlockAttachment::Mode mode);
  [[nodiscard]] std::error_code Attach(const Identifier& id, BlockAttachment::Mode mode);
  // The attach itself; raises its failures.
  [[nodiscard]] std::error_code AttachBlock(const Identifier& id, BlockAttachment::Mode mode);

  BlockAttachment block_;
  Identifier m_szGUID;
};

}  // namespace dovel::store
