#include <windows.h>

#include <string>
#include <vector>

#include "platform/process/process_info.h"

namespace dovel::platform {
namespace {

// The path of this process's executable, or empty.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return {};  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
  }
  return text;
}

class Win32ProcessInfo final : public ProcessInfo {
 public:
  std::string ExecutableName() override { return ProgramNameFromPath(Utf8(ModulePath())); }

  // The executable's own version resource; a build without one (the test
  // programs) reports the version it was built with.
  FileVersionNumbers FileVersion() override {
    const std::wstring path = ModulePath();
    if (path.empty()) return BuiltFileVersion();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return BuiltFileVersion();
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return BuiltFileVersion();
    void* fixed = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueW(data.data(), L"\\", &fixed, &fixed_size) || fixed == nullptr ||
        fixed_size < sizeof(VS_FIXEDFILEINFO)) {
      return BuiltFileVersion();
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return FileVersionNumbers{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                              HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
  }
};

}  // namespace

template <>
ProcessInfo& SystemDefault<ProcessInfo>() {
  static Win32ProcessInfo info;
  return info;
}

void SuppressErrorDialogs() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX); }

}  // namespace dovel::platform
