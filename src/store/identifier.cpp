#include "store/identifier.h"

#include <algorithm>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"

namespace dovel::store {
namespace {

bool IsHexDigit(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'F') || (unit >= u'a' && unit <= u'f');
}

// Where the registry form has something other than a hexadecimal digit.
char16_t PunctuationAt(std::size_t index) {
  switch (index) {
    case 0: return u'{';
    case 9:
    case 14:
    case 19:
    case 24: return u'-';
    case Identifier::kLength - 1: return u'}';
    default: return u'\0';
  }
}

}  // namespace

std::error_code Identifier::Parse(std::u16string_view text, Identifier& out) noexcept {
  if (text.size() != kLength) return RuntimeError::kBadIdentifierLength;
  for (std::size_t i = 0; i < kLength; ++i) {
    const char16_t expected = PunctuationAt(i);
    if (expected != u'\0' ? text[i] != expected : !IsHexDigit(text[i])) return SystemError::kInvalidName;
  }
  std::copy(text.begin(), text.end(), out.units_.begin());
  return {};
}

Identifier Identifier::From(std::u16string_view text) {
  Identifier id;
  if (const std::error_code refused = Parse(text, id)) config::Raise(refused);
  return id;
}

Identifier Identifier::From(const platform::Guid& guid) {
  char16_t text[kLength + 1] = {};
  const int written = platform::StringFromGuid2(guid, text, static_cast<int>(kLength + 1));
  // It writes the identifier and its NUL, or nothing at all.
  return From(std::u16string_view(text, written == static_cast<int>(kLength + 1) ? kLength : 0));
}

std::string Identifier::BlockName() const {
  // Every unit of the form is ASCII, so each is its own 8-bit character.
  std::string name(kLength, '\0');
  std::transform(units_.begin(), units_.end(), name.begin(), [](char16_t unit) { return static_cast<char>(unit); });
  return name;
}

}  // namespace dovel::store
