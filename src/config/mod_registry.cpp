#include "config/mod_registry.h"

#include <cstdint>
#include <limits>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"

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
  // Closed when the read is over, whatever the open left in it.
  platform::OwnedKey key;
  ValueRead result;
  auto unreadable = [&](std::error_code status) {
    result.read.found = SettingFound::kUnreadable;
    result.read.status = status;
  };
  try {
    const std::string name = ToRegistryText(value_name);
    // A failed open leaves no key, and the query on no key fails in turn;
    // only "no such key" means the setting was never made.
    if (const std::error_code opened = key.Open(registry, root, ToRegistryText(key_path));
        opened && opened != SystemError::kFileNotFound) {
      unreadable(opened);
    }
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const std::error_code status = registry.QueryValue(key.get(), name, &type, nullptr, &size);
    if (!status && type == platform::reg_type::kSz) {
      // The buffer is as many characters as the value has bytes, so a value
      // stored without a NUL comes back whole.
      if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        Raise(RuntimeError::kInvalidProcedureCall);
      std::string buffer(size, ' ');
      std::uint32_t capacity = size;
      const std::error_code second =
          registry.QueryValue(key.get(), name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &capacity);
      const std::size_t nul = buffer.find('\0');
      if (nul == std::string::npos) {
        result.read.text = FromRegistryText(buffer);
      } else {
        // The NUL's position is kept in a 16-bit signed integer.
        if (nul + 1 > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
          Raise(RuntimeError::kOverflow);
        result.read.text = FromRegistryText(std::string_view(buffer).substr(0, nul));
      }
      result.text_read = true;
      result.read.found = SettingFound::kText;
      if (second) unreadable(second);
    } else if (result.read.found != SettingFound::kUnreadable && status && status != SystemError::kFileNotFound &&
               key.get() != 0) {
      unreadable(status);
    }
  } catch (...) {
    unreadable(TrappedError());
    result.read.text.clear();
    result.text_read = false;
    result.failed_part_way = true;
  }
  // Closing cannot change what was read, so its status is dropped here.
  Ignoring([&] { static_cast<void>(key.Close()); });
  return result;
}

}  // namespace

SettingRead ReadRegString(platform::RegistryKey root, std::u16string_view key_path,
                          std::u16string_view value_name) noexcept {
  return QuietRecovery(SettingRead{SettingFound::kUnreadable, {}, RuntimeError::kOutOfMemory},
                       [&] { return ReadValue(root, key_path, value_name).read; });
}

std::u16string GetRegString(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name,
                            std::u16string_view default_value) noexcept {
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
  platform::OwnedKey key;
  QuietRecovery(0, [&] {
    // A write that fails is dropped silently, as documented. A key that
    // cannot be made leaves no key, and the write below fails on it in turn.
    static_cast<void>(key.Create(registry, root, ToRegistryText(key_path)));
    std::string bytes = ToRegistryText(value);
    if (bytes.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
      Raise(RuntimeError::kOverflow);
    const auto size = static_cast<std::uint32_t>(bytes.size() + 1);
    bytes.push_back('\0');
    // Dropped as well: the process goes on with the value it already has.
    static_cast<void>(registry.SetValue(key.get(), ToRegistryText(value_name), platform::reg_type::kSz,
                                        reinterpret_cast<const std::uint8_t*>(bytes.data()), size));
    return 0;
  });
  // A failed close undoes no write: its status is dropped too.
  Ignoring([&] { static_cast<void>(key.Close()); });
}

std::u16string GetAppSetting(std::u16string_view app_word, std::u16string_view section, std::u16string_view value_name,
                             std::u16string_view default_value) noexcept {
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
  return QuietRecovery(SettingRead{SettingFound::kUnreadable, {}, RuntimeError::kOutOfMemory}, [&] {
    return ReadRegString(platform::kHkeyLocalMachine, AppKeyPath(app_word, section), value_name);
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
