#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/registry/registry.h"

namespace dovel::config {

// Settings in the registry. Every procedure here recovers quietly: it never
// raises and never reports, because it runs before there is an error log
// and a missing or broken setting must simply fall back to its default.
//
// Text: the registry side is 8-bit, the system's strings are UTF-16. The
// 8-bit side is taken as Latin-1: a code unit up to 255 is that byte, any
// other becomes '?'; each byte read back is the code unit of the same value.

// The 8-bit form of a system string (Latin-1, '?' for anything above 255).
std::string ToRegistryText(std::u16string_view text);
// A system string from 8-bit registry text (Latin-1).
std::u16string FromRegistryText(std::string_view bytes);

// A REG_SZ value, cut at its first NUL; `default_value` when the key or
// value is missing or the value is not REG_SZ; "" when reading it failed
// part-way (no memory for the buffer, a NUL beyond position 32767).
std::u16string GetRegString(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name,
                            std::u16string_view default_value) noexcept;

// Writes a REG_SZ value with a terminating NUL, creating the key and its
// path. A write that fails is dropped silently.
void SaveRegString(platform::RegistryKey root, std::u16string_view key_path, std::u16string_view value_name,
                   std::u16string_view value) noexcept;

// What reading one setting found, for a caller that must tell "never set"
// (its default may be written back) from "could not be read right now"
// (the store busy, locked, damaged or failing: the stored value may be
// perfectly good, so nothing may be written over it).
enum class SettingFound {
  kText,        // a REG_SZ value: `text` holds it up to its first NUL
  kMissing,     // no store, no key, no value, or a value of another type
  kUnreadable,  // anything else: `status` says what
};

struct SettingRead {
  SettingFound found = SettingFound::kMissing;
  std::u16string text;
  std::error_code status;  // what made it unreadable
};

// A REG_SZ value read the way GetRegString reads it, saying what it found.
SettingRead ReadRegString(platform::RegistryKey root, std::u16string_view key_path,
                          std::u16string_view value_name) noexcept;

// An application setting: HKEY_LOCAL_MACHINE\Software\Ostrel\<app>\<section>.
std::u16string GetAppSetting(std::u16string_view app_word, std::u16string_view section, std::u16string_view value_name,
                             std::u16string_view default_value) noexcept;
void SaveAppSetting(std::u16string_view app_word, std::u16string_view section, std::u16string_view value_name,
                    std::u16string_view value) noexcept;
SettingRead ReadAppSetting(std::u16string_view app_word, std::u16string_view section,
                           std::u16string_view value_name) noexcept;

}  // namespace dovel::config
