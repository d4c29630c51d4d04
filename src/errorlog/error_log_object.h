#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/automation/dispatch.h"
#include "platform/automation/object_factory.h"

namespace dovel::errorlog {

inline constexpr std::string_view kProgId = "ErrorObject.clsErrorObject";

// Where the log files go unless DOVEL_LOG_DIR names another directory: on
// Windows <ProgramData>\Dovel\Log; elsewhere /var/log/dovel for the
// superuser and the user's state directory for anyone else (LogDirectory).
inline constexpr std::string_view kDefaultLogDirectory = "/var/log/dovel";
inline constexpr std::string_view kWindowsLogSubdirectory = "Dovel\\Log";
inline constexpr const char* kLogDirectoryVariable = "DOVEL_LOG_DIR";

// The error-logging object the system creates by programmatic identifier,
// for hosts without the Windows component. It keeps one pending report:
// Add fills it, AddlText adds a remark, LogError appends it to the log and
// Clear drops it.
//
// Members (names compared without regard to ASCII case, as late binding does):
//   puts/gets  AppName, AppVersion, FileSection, AddlText   text
//              WarningLevel                                 16-bit integer
//              AppErrorFile    a plain file name (no directory part)
//   Add(14 arguments)  1 error number, 5 date, 6 time of day, 8 module,
//                      9 procedure, 14 level (by reference: read during Add;
//                      missing: the WarningLevel property). The others are
//                      accepted and not logged.
//   LogError   appends the pending report, if any; the report stays pending.
//   Clear      drops the pending report.
//
// A logged report is one line of tab-separated fields, UTF-8:
//   date  time  app  version  section  module  procedure  number  level  [remark]
// date is YYYY-MM-DD and time HH:MM:SS; the remark (AddlText) is present only
// when non-empty. Control characters in text (tab and line breaks included)
// become spaces, so one report is always exactly one line.
//
// The file is <log directory>/<AppErrorFile>; the directory is read from
// DOVEL_LOG_DIR at every LogError and created (0755) when missing. The file
// is opened for appending at each LogError and the line is written with a
// single write, so processes sharing the log never interleave their lines.
//
// Threads: one object per apartment thread, like the component it replaces.
class ErrorLogObject final : public platform::automation::Dispatch {
 public:
  [[nodiscard]] std::error_code PutProperty(std::u16string_view name,
                                            const platform::automation::Variant& value) override;
  [[nodiscard]] std::error_code GetProperty(std::u16string_view name, platform::automation::Variant& result) override;
  [[nodiscard]] std::error_code Call(std::u16string_view name, std::span<platform::automation::Variant> args,
                                     platform::automation::Variant* result) override;

 private:
  struct Report {
    std::int32_t number = 0;
    platform::automation::Date date;
    platform::automation::Date time;
    std::u16string module;
    std::u16string procedure;
    std::int16_t level = 0;
  };

  [[nodiscard]] std::error_code Add(std::span<platform::automation::Variant> args);
  [[nodiscard]] std::error_code LogError() const;

  std::u16string app_name_;
  std::u16string app_version_;
  std::int16_t warning_level_ = 0;
  std::u16string app_error_file_;
  std::u16string file_section_;
  std::u16string addl_text_;
  std::optional<Report> pending_;
};

// Registers ErrorLogObject under kProgId, as installing the component would.
void RegisterErrorLogSubstitute(platform::automation::ClassTable& table);

}  // namespace dovel::errorlog
