#include "store/cls_message.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "config/error_styles.h"
#include "platform/automation/conversions.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/block_primitives.h"
#include "store/fields.h"

namespace dovel::store {

namespace automation = platform::automation;
using config::PassingOn;
using config::Raise;

namespace {

const config::ReportSite& SiteOf(BlockAttachment::Mode mode) {
  return mode == BlockAttachment::Mode::kCreateOrOpen ? config::sites::kMessageCreate : config::sites::kMessageLoad;
}

// A let takes the first 38 characters, as stored identifiers always are.
Identifier LetIdentifier(std::u16string_view szVal) { return Identifier::From(szVal.substr(0, Identifier::kLength)); }

}  // namespace

std::int32_t clsMessage::Create(std::u16string_view sGUID) {
  return ErrorNumber(Attach(sGUID, BlockAttachment::Mode::kCreateOrOpen));
}

std::int32_t clsMessage::Load(std::u16string_view sGUID) {
  return ErrorNumber(Attach(sGUID, BlockAttachment::Mode::kOpenExisting));
}

std::error_code clsMessage::Create(const Identifier& id) { return Attach(id, BlockAttachment::Mode::kCreateOrOpen); }

std::error_code clsMessage::Load(const Identifier& id) { return Attach(id, BlockAttachment::Mode::kOpenExisting); }

std::error_code clsMessage::Attach(std::u16string_view sGUID, BlockAttachment::Mode mode) {
  return config::ReportingStatus({SiteOf(mode), sGUID}, [&] { return AttachBlock(Identifier::From(sGUID), mode); });
}

std::error_code clsMessage::Attach(const Identifier& id, BlockAttachment::Mode mode) {
  return config::ReportingStatus({SiteOf(mode), id.view()}, [&] { return AttachBlock(id, mode); });
}

std::error_code clsMessage::AttachBlock(const Identifier& id, BlockAttachment::Mode mode) {
  m_szGUID = id;
  const std::error_code status = block_.Attach(id, mode);
  // A block that already existed keeps everything, its own identifier too.
  if (mode == BlockAttachment::Mode::kCreateOrOpen && status != SystemError::kAlreadyExists) {
    WriteIdentifier(block_.View(), layout::kMessageGuid, id);
  }
  return status;
}

std::u16string clsMessage::szGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kMessageGuid); });
}

std::u16string clsMessage::Name() const {
  return PassingOn([&] { return ReadCountedText(block_.View(), layout::kNameCount, layout::kTextCapacityBytes); });
}

void clsMessage::Name(std::u16string_view szVal) {
  PassingOn([&] { WriteCountedText(block_.View(), layout::kNameCount, layout::kTextCapacityBytes, szVal); });
}

std::int16_t clsMessage::Priority() const {
  return PassingOn([&] { return GetView16(block_.View(), layout::kPriority); });
}

void clsMessage::Priority(std::int16_t iVal) {
  PassingOn([&] { PutView16(block_.View(), layout::kPriority, iVal); });
}

bool clsMessage::Auto() const {
  return PassingOn([&] { return GetView16(block_.View(), layout::kAuto) != 0; });
}

void clsMessage::Auto(bool boolVal) {
  PassingOn([&] { PutView16(block_.View(), layout::kAuto, boolVal ? std::int16_t{-1} : std::int16_t{0}); });
}

automation::Variant clsMessage::Data() const {
  return PassingOn([&]() -> automation::Variant {
    std::byte* view = block_.View();
    const std::int32_t count = UsableCount(GetView16(view, layout::kDataCount), layout::kDataCapacityBytes);
    if (count < 1) return automation::Empty{};
    automation::ByteArray bytes{0, std::vector<std::uint8_t>(static_cast<std::size_t>(count))};
    GetViewBytes(view, layout::kDataBytes, bytes.bytes.data(), count);
    return bytes;
  });
}

namespace {

// The bytes an array variant stands for, elements 0 to n-1, each converted
// to 0-255. Raises before the caller writes anything.
std::vector<std::uint8_t> ConvertDataElements(const automation::Variant& varVal, std::int32_t count) {
  std::vector<std::uint8_t> converted(static_cast<std::size_t>(count));
  if (varVal.Is<automation::ByteArray>()) {
    const auto& array = varVal.As<automation::ByteArray>();
    if (array.lower_bound > 0) Raise(RuntimeError::kSubscriptOutOfRange);
    const auto first = static_cast<std::size_t>(-array.lower_bound);
    std::copy_n(array.bytes.begin() + static_cast<std::ptrdiff_t>(first), count, converted.begin());
    return converted;
  }
  const auto& array = varVal.As<automation::VariantArray>();
  if (array.lower_bound > 0) Raise(RuntimeError::kSubscriptOutOfRange);
  const auto first = static_cast<std::size_t>(-array.lower_bound);
  for (std::size_t i = 0; i < converted.size(); ++i) {
    if (const std::error_code error = automation::ToByte(array.elements[first + i], converted[i])) Raise(error);
  }
  return converted;
}

}  // namespace

void clsMessage::Data(const automation::Variant& varVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    std::int32_t count = 0;
    if (varVal.Is<automation::ByteArray>()) {
      count = varVal.As<automation::ByteArray>().UpperBound() + 1;
    } else if (varVal.Is<automation::VariantArray>()) {
      count = varVal.As<automation::VariantArray>().UpperBound() + 1;
    } else if (!varVal.Is<automation::Empty>()) {
      Raise(RuntimeError::kTypeMismatch);
    }
    if (count > std::numeric_limits<std::int16_t>::max() || count < std::numeric_limits<std::int16_t>::min()) {
      Raise(RuntimeError::kOverflow);
    }
    if (count > layout::kDataCapacityBytes) Raise(RuntimeError::kInvalidPropertyValue);

    // Convert every element before the count is written, so a refused value
    // leaves the field exactly as it was.
    const std::vector<std::uint8_t> bytes = count > 0 ? ConvertDataElements(varVal, count)
                                                      : std::vector<std::uint8_t>{};
    PutView16(view, layout::kDataCount, static_cast<std::int16_t>(count));
    if (count > 0) PutViewBytes(view, layout::kDataBytes, bytes.data(), count);
  });
}

std::u16string clsMessage::OwnerName() const {
  return PassingOn([&] { return ReadCountedText(block_.View(), layout::kOwnerNameCount, layout::kTextCapacityBytes); });
}

void clsMessage::OwnerName(std::u16string_view szVal) {
  PassingOn([&] { WriteCountedText(block_.View(), layout::kOwnerNameCount, layout::kTextCapacityBytes, szVal); });
}

std::u16string clsMessage::OwnerGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kOwnerGuid); });
}

void clsMessage::OwnerGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    WriteIdentifier(view, layout::kOwnerGuid, LetIdentifier(szVal));
  });
}

std::u16string clsMessage::ClientGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kClientGuid); });
}

void clsMessage::ClientGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    WriteIdentifier(view, layout::kClientGuid, LetIdentifier(szVal));
  });
}

std::u16string clsMessage::NextMsgGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kNextMsgGuid); });
}

void clsMessage::NextMsgGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    WriteIdentifier(view, layout::kNextMsgGuid, LetIdentifier(szVal));
  });
}

void clsMessage::NextMsgGUID(const Identifier& id) {
  PassingOn([&] { WriteIdentifier(block_.View(), layout::kNextMsgGuid, id); });
}

std::u16string clsMessage::HeadGUID() const {
  return PassingOn([&] { return ReadIdentifier(block_.View(), layout::kHeadGuid); });
}

void clsMessage::HeadGUID(std::u16string_view szVal) {
  PassingOn([&] {
    std::byte* view = block_.View();
    WriteIdentifier(view, layout::kHeadGuid, LetIdentifier(szVal));
  });
}

void clsMessage::HeadGUID(const Identifier& id) {
  PassingOn([&] { WriteIdentifier(block_.View(), layout::kHeadGuid, id); });
}

std::shared_ptr<clsMessage> clsMessage::NextMessage() const {
  std::error_code failure;  // reported already: this form says only "none"
  return NextMessage(failure);
}

std::shared_ptr<clsMessage> clsMessage::NextMessage(std::error_code& failure) const {
  std::shared_ptr<clsMessage> next;
  failure = config::ReportingStatus(config::sites::kMessageNextMessage, [&]() -> std::error_code {
    const std::u16string next_guid = NextMsgGUID();
    if (next_guid == HeadGUID()) return {};  // the last message of its list
    auto loaded = std::make_shared<clsMessage>();
    if (const std::error_code status = loaded->Attach(next_guid, BlockAttachment::Mode::kOpenExisting)) Raise(status);
    next = std::move(loaded);
    return {};
  });
  return next;
}

}  // namespace dovel::store
