#include "config/mod_registry.h"

#include <cstdint>
#include <limits>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "platform/core/system_error.h"

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

namespace {

// One read of a REG_SZ value. `text_read` says the value's text was taken
// from the buffer, whatever the second query said: GetRegString returns that
// text, as the design's unchecked second query does.
struct ValueRead {
  SettingRead read;
  bool text_read = false;
  bool failed_part_way = false;  // no buffer, or a NUL beyond position 32767
};

ValueRead ReadValue(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::RegistryKey key = 0;
  ValueRead result;
  auto unreadable = [&](std::error_code status) {
    result.read.found = SettingFound::kUnreadable;
    result.read.status = status;
  };
  try {
    const std::string name = ToRegistryText(value_name);
    // A failed open leaves no key, and the query on no key fails in turn;
    // only "no such key" means the setting was never made.
    if (const std::int32_t opened = registry.OpenKey(root, ToRegistryText(key_path), key);
        opened != 0 && opened != platform::win32_error::kFileNotFound) {
      unreadable(SystemStatus(opened));
    }
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const std::int32_t status = registry.QueryValue(key, name, &type, nullptr, &size);
    if (status == 0 && type == platform::reg_type::kSz) {
      // The buffer is as many characters as the value has bytes, so a value
      // stored without a NUL comes back whole.
      if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) Raise(RuntimeError::kInvalidProcedureCall);
      std::string buffer(size, ' ');
      std::uint32_t capacity = size;
      const std::int32_t second =
          registry.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &capacity);
      const std::size_t nul = buffer.find('\0');
      if (nul == std::string::npos) {
        result.read.text = FromRegistryText(buffer);
      } else {
        // The NUL's position is kept in a 16-bit signed integer.
        if (nul + 1 > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) Raise(RuntimeError::kOverflow);
        result.read.text = FromRegistryText(std::string_view(buffer).substr(0, nul));
      }
      result.text_read = true;
      result.read.found = SettingFound::kText;
      if (second != 0) unreadable(SystemStatus(second));
    } else if (result.read.found != SettingFound::kUnreadable && status != 0 &&
               status != platform::win32_error::kFileNotFound && key != 0) {
      unreadable(SystemStatus(status));
    }
  } catch (...) {
    unreadable(TrappedError());
    result.read.text.clear();
    result.text_read = false;
    result.failed_part_way = true;
  }
  Ignoring([&] { registry.CloseKey(key); });
  return result;
}

}  // namespace

SettingRead ReadRegString(platform::RegistryKey root, std::u16string_view key_path,
                          std::u16string_view value_name) noexcept {
  return QuietRecovery(SettingRead{SettingFound::kUnreadable, {}, RuntimeError::kOutOfMemory},
                       [&] { return ReadValue(root, key_path, value_name).read; });
}

std::u16string GetRegString(platform::RegistryKey root, std::u16string_view key_path,
                            std::u16string_view value_name, std::u16string_view default_value) noexcept {
  return QuietRecovery(std::u16string(), [&] {
    ValueRead value = ReadValue(root, key_path, value_name);
    if (value.text_read) return std::move(value.read.text);
    if (value.failed_part_way) return std::u16string();
    return std::u16string(default_value);
  });
}

void SaveRegString(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name,
                   std::u16string_view value) noexcept {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::RegistryKey key = 0;
  QuietRecovery(0, [&] {
    registry.CreateKey(root, ToRegistryText(key_path), key);
    std::string bytes = ToRegistryText(value);
    if (bytes.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(RuntimeError::kOverflow);
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

SettingRead ReadAppSetting(std::u16string_view app_word, std::u16string_view section,
                           std::u16string_view value_name) noexcept {
  return QuietRecovery(SettingRead{SettingFound::kUnreadable, {}, RuntimeError::kOutOfMemory},
                       [&] { return ReadRegString(platform::kHkeyLocalMachine, AppKeyPath(app_word, section), value_name); });
}

void SaveAppSetting(std::u16string_view app_word, std::u16string_view section, std::u16string_view value_name,
                    std::u16string_view value) noexcept {
  QuietRecovery(0, [&] {
    SaveRegString(platform::kHkeyLocalMachine, AppKeyPath(app_word, section), value_name, value);
    return 0;
  });
}

}  // namespace dovel::config
