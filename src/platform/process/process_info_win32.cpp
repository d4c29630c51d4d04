#include <windows.h>

#include <string>
#include <vector>

#include "platform/core/win32_text.h"
#include "platform/process/process_info.h"

namespace dovel::platform {
namespace {

class Win32ProcessInfo final : public ProcessInfo {
 public:
  std::string ExecutableName() override {
    return ProgramNameFromPath(win32::Utf8FromWide(win32::ModuleFileName(nullptr)));
  }

  // The executable's own version resource; a build without one (the test
  // programs) reports the version it was built with.
  FileVersionNumbers FileVersion() override {
    const std::wstring path = win32::ModuleFileName(nullptr);
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
