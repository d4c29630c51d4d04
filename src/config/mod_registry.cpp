#include "config/mod_registry.h"

#include <cstdint>
#include <limits>

#include "config/error_styles.h"
#include "config/mod_error_list.h"

namespace dovel::config {
namespace {

std::u16string AppKeyPath(std::u16string_view app_word, std::u16string_view section) {
  std::u16string path = u"Software\\Ostrel\\";
  path += app_word;
  path += u'\\';
  path += section;
  return path;
}

}  // namespace

std::string ToRegistryText(std::u16string_view text) {
  std::string bytes(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
  }
  return bytes;
}

std::u16string FromRegistryText(std::string_view bytes) {
  std::u16string text(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<unsigned char>(bytes[i]);
  return text;
}

std::u16string GetRegString(platform::RegistryKey root, std::u16string_view key_path,
                            std::u16string_view value_name, std::u16string_view default_value) noexcept {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::RegistryKey key = 0;
  std::u16string result = QuietRecovery(std::u16string(), [&] {
    std::u16string value(default_value);
    const std::string name = ToRegistryText(value_name);
    // The open's status is not looked at: a failed open leaves no key, and
    // the query on no key fails in turn.
    registry.OpenKey(root, ToRegistryText(key_path), key);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const std::int32_t status = registry.QueryValue(key, name, &type, nullptr, &size);
    if (status == 0 && type == platform::reg_type::kSz) {
      // The buffer is as many characters as the value has bytes, so a value
      // stored without a NUL comes back whole.
      if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) Raise(kErrInvalidProcedureCall);
      std::string buffer(size, ' ');
      std::uint32_t capacity = size;
      registry.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &capacity);
      const std::size_t nul = buffer.find('\0');
      if (nul == std::string::npos) {
        value = FromRegistryText(buffer);
      } else {
        // The NUL's position is kept in a 16-bit signed integer.
        if (nul + 1 > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) Raise(kErrOverflow);
        value = FromRegistryText(std::string_view(buffer).substr(0, nul));
      }
    }
    return value;
  });
  Ignoring([&] { registry.CloseKey(key); });
  return result;
}

void SaveRegString(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name,
                   std::u16string_view value) noexcept {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::RegistryKey key = 0;
  QuietRecovery(0, [&] {
    registry.CreateKey(root, ToRegistryText(key_path), key);
    std::string bytes = ToRegistryText(value);
    if (bytes.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(kErrOverflow);
    const auto size = static_cast<std::uint32_t>(bytes.size() + 1);
    bytes.push_back('\0');
    registry.SetValue(key, ToRegistryText(value_name), platform::reg_type::kSz,
                      reinterpret_cast<const std::uint8_t*>(bytes.data()), size);
    return 0;
  });
  Ignoring([&] { registry.CloseKey(key); });
}

std::u16string GetAppSetting(std::u16string_view app_word, std::u16string_view section,
                             std::u16string_view value_name, std::u16string_view default_value) noexcept {
  // The fallback is built inside a recovery of its own: not even copying
  // the default may let an exception out.
  return QuietRecovery(std::u16string(), [&] {
    return QuietRecovery(std::u16string(default_value), [&] {
      return GetRegString(platform::kHkeyLocalMachine, AppKeyPath(app_word, section), value_name, default_value);
    });
  });
}

void SaveAppSetting(std::u16string_view app_word, std::u16string_view section, std::u16string_view value_name,
                    std::u16string_view value) noexcept {
  QuietRecovery(0, [&] {
    SaveRegString(platform::kHkeyLocalMachine, AppKeyPath(app_word, section), value_name, value);
    return 0;
  });
}

}  // namespace dovel::config
