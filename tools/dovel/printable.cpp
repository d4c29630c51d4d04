#include "tools/dovel/printable.h"

#include <cstdio>

namespace dovel::tools {
namespace {

constexpr std::size_t kPreviewChars = 40;
constexpr std::size_t kPreviewBytes = 16;

// The length of the valid UTF-8 sequence at the start of `text` and its code
// point, or 0 when it is none (overlong forms and surrogates included).
std::size_t Sequence(std::string_view text, char32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  // By the lead byte: the length, the payload bits it carries, and the
  // smallest code point that needs this length.
  struct Form {
    unsigned mask, marker;
    std::size_t length;
    char32_t minimum;
  };
  constexpr Form kForms[] = {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
  std::size_t length = 0;
  char32_t minimum = 0;
  for (const Form& form : kForms) {
    if ((lead & form.mask) != form.marker) continue;
    length = form.length;
    minimum = form.minimum;
    code_point = lead & ~form.mask & 0xFF;
  }
  if (length == 0) return 0;
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return 0;
  return length;
}

bool IsControl(char32_t code_point) { return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F); }

std::string Escaped(std::string_view bytes) {
  std::string out;
  char escape[5];
  for (const char byte : bytes) {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(byte));
    out += escape;
  }
  return out;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    char32_t code_point = 0;
    const std::size_t length = Sequence(text, code_point);
    const std::size_t taken = length == 0 ? 1 : length;
    if (length == 0 || IsControl(code_point)) {
      out += Escaped(text.substr(0, taken));
    } else {
      out.append(text.substr(0, taken));
    }
    text.remove_prefix(taken);
  }
  return out;
}

bool IsUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    char32_t code_point = 0;
    const std::size_t length = Sequence(bytes, code_point);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t max_bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < bytes.size() && i < max_bytes; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xF];
  }
  return hex;
}

std::string DataPreview(const std::vector<std::uint8_t>& data) {
  const std::string size = " (" + std::to_string(data.size()) + (data.size() == 1 ? " byte)" : " bytes)");
  if (data.empty()) return "(no data)";
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  bool plain = IsUtf8(text);
  std::string shown;
  std::size_t chars = 0;
  while (plain && !text.empty() && chars < kPreviewChars) {
    char32_t code_point = 0;
    const std::size_t length = Sequence(text, code_point);
    plain = !IsControl(code_point);
    shown.append(text.substr(0, length));
    text.remove_prefix(length);
    ++chars;
  }
  if (plain) return "\"" + shown + (text.empty() ? "\"" : "\"...") + size;
  return "hex " + Hex(data, kPreviewBytes) + (data.size() > kPreviewBytes ? "..." : "") + size;
}

}  // namespace dovel::tools
