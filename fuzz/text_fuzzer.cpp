// The text conversions: UTF-8 from terminals and settings tools, UTF-16 from
// clients and blocks, and the 8-bit names blocks get on the system.
//
// Input: the same bytes read both ways, as UTF-8 and as little-endian UTF-16.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/automation/text.h"

namespace {

namespace automation = dovel::platform::automation;

// Well-formed UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, cp = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool PairedSurrogates(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void CheckAsciiName(const std::u16string& text) {
  bool plain = true;
  for (const char16_t unit : text) plain = plain && unit >= 1 && unit <= 127;
  std::string name = "untouched";
  DOVEL_FUZZ_CHECK(automation::ToAsciiName(text, name) == plain);
  if (!plain) {
    DOVEL_FUZZ_CHECK(name == "untouched");
    return;
  }
  DOVEL_FUZZ_CHECK(name.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) DOVEL_FUZZ_CHECK(static_cast<char16_t>(name[i]) == text[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

  // Whatever comes in, what goes out is well formed, and well-formed text
  // makes the round trip unchanged.
  const std::u16string from_bytes = automation::FromUtf8(bytes);
  DOVEL_FUZZ_CHECK(PairedSurrogates(from_bytes));
  DOVEL_FUZZ_CHECK(from_bytes.size() <= bytes.size());
  if (ValidUtf8(bytes)) DOVEL_FUZZ_CHECK(automation::ToUtf8(from_bytes) == bytes);
  else DOVEL_FUZZ_CHECK(from_bytes.find(u'\uFFFD') != std::u16string::npos);

  const std::string from_units = automation::ToUtf8(units);
  DOVEL_FUZZ_CHECK(ValidUtf8(from_units));
  DOVEL_FUZZ_CHECK(from_units.size() <= units.size() * 3);
  if (PairedSurrogates(units)) DOVEL_FUZZ_CHECK(automation::FromUtf8(from_units) == units);

  CheckAsciiName(units);
  CheckAsciiName(from_bytes);
  return 0;
}
