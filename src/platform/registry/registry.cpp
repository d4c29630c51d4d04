#include "platform/registry/registry.h"

#include <array>
#include <cstdio>
#include <utility>

namespace dovel::platform {
namespace {

struct RootName {
  RegistryKey root;
  std::string_view full;
  std::string_view abbreviation;
};

constexpr std::array kRoots{
    RootName{kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    RootName{kHkeyCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    RootName{kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    RootName{kHkeyUsers, "HKEY_USERS", "HKU"},
    RootName{kHkeyCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::error_code OwnedKey::Open(Registry& registry, RegistryKey root, std::string_view sub_key) {
  Discard();
  registry_ = &registry;
  return registry.OpenKey(root, sub_key, key_);
}

std::error_code OwnedKey::Create(Registry& registry, RegistryKey root, std::string_view sub_key) {
  Discard();
  registry_ = &registry;
  return registry.CreateKey(root, sub_key, key_);
}

std::error_code OwnedKey::Close() {
  if (registry_ == nullptr) return {};
  Registry& registry = *std::exchange(registry_, nullptr);
  return registry.CloseKey(std::exchange(key_, 0));
}

void OwnedKey::Discard() noexcept {
  try {
    // The handle is given up either way: a failed close leaves nothing to undo.
    static_cast<void>(Close());
  } catch (...) {
  }
}

bool RegistryRootFromName(std::string_view name, RegistryKey& root) {
  for (const auto& candidate : kRoots) {
    if (EqualsIgnoringAsciiCase(name, candidate.full) || EqualsIgnoringAsciiCase(name, candidate.abbreviation)) {
      root = candidate.root;
      return true;
    }
  }
  return false;
}

std::string_view RegistryRootName(RegistryKey root) {
  for (const auto& candidate : kRoots) {
    if (candidate.root == root) return candidate.full;
  }
  return {};
}

std::string RegistryTypeName(std::uint32_t type) {
  switch (type) {
    case reg_type::kNone: return "REG_NONE";
    case reg_type::kSz: return "REG_SZ";
    case reg_type::kExpandSz: return "REG_EXPAND_SZ";
    case reg_type::kBinary: return "REG_BINARY";
    case reg_type::kDword: return "REG_DWORD";
    case reg_type::kDwordBigEndian: return "REG_DWORD_BIG_ENDIAN";
    case reg_type::kLink: return "REG_LINK";
    case reg_type::kMultiSz: return "REG_MULTI_SZ";
    case reg_type::kQword: return "REG_QWORD";
    default: break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "REG_0x%X", static_cast<unsigned>(type));
  return text;
}

}  // namespace dovel::platform
