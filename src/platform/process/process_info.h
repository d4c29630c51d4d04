#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/current.h"

namespace dovel::platform {

// A four-field file version, as the version resource of a Windows
// executable holds it.
struct FileVersionNumbers {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t build = 0;
  std::uint16_t revision = 0;

  friend bool operator==(const FileVersionNumbers&, const FileVersionNumbers&) = default;
};

// Facts about the running program that the error log records.
// Threads: both methods may be called from any thread.
class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;

  // The program's file name without directory and extension: "Comm" for
  // C:\Apps\Comm.exe, "dovel-server" for /usr/sbin/dovel-server. Windows:
  // GetModuleFileNameW of the executable; POSIX: /proc/self/exe, else the
  // name the program was started under.
  virtual std::string ExecutableName() = 0;

  // The program's version. Windows: the executable's version resource;
  // elsewhere the version the build was made with (the top-level project).
  virtual FileVersionNumbers FileVersion() = 0;
};

template <>
ProcessInfo& SystemDefault<ProcessInfo>();

inline ProcessInfo& CurrentProcessInfo() { return Current<ProcessInfo>::Get(); }

// Windows: makes the system fail a call or end the process instead of
// showing an interactive error box (a missing disk, a crash, a file that
// cannot be found) that nobody may ever answer. Does nothing elsewhere.
void SuppressErrorDialogs();

// The file name of `path` without its directory and without its last
// extension ("/opt/x/a.b.exe" -> "a.b"). A name that is all extension
// (".hidden") is kept whole. Either slash separates directories.
std::string ProgramNameFromPath(std::string_view path);

// The version this build was configured with: the four fields of the
// top-level project's VERSION.
FileVersionNumbers BuiltFileVersion();

// The version as the application shows it: major.minor.revision in plain
// decimal, the build field left out (1.0.0.31 -> "1.0.31").
std::string FormatAppVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision);

}  // namespace dovel::platform
