#include "errorlog/error_log_object.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

#include "errorlog/log_directory.h"
#include "platform/automation/conversions.h"
#include "platform/automation/date.h"
#include "platform/automation/text.h"

namespace dovel::errorlog {
namespace {

namespace automation = platform::automation;
namespace fs = std::filesystem;
using automation::Variant;

constexpr std::size_t kAddArgumentCount = 14;

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Late binding looks members up without regard to case.
bool IsMember(std::u16string_view name, std::u16string_view member) {
  if (name.size() != member.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (FoldCase(name[i]) != FoldCase(member[i])) return false;
  }
  return true;
}

// The Dispatch contract promises error numbers, never exceptions; the only
// thing that can throw in here is an allocation.
template <class Body>
std::error_code Contained(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return RuntimeError::kOutOfMemory;
  } catch (...) {
    return RuntimeError::kInternalError;
  }
}

std::error_code ToText(const Variant& from, std::u16string& text) {
  if (from.Is<automation::Empty>()) {
    text.clear();
    return {};
  }
  if (!from.Is<std::u16string>()) return RuntimeError::kTypeMismatch;
  text = from.As<std::u16string>();
  return {};
}

// An argument the caller may leave out, logged as empty then.
std::error_code ToOptionalText(const Variant& from, std::u16string& text) {
  if (from.Is<automation::Missing>()) {
    text.clear();
    return {};
  }
  return ToText(from, text);
}

std::error_code ToDate(const Variant& from, automation::Date& date) {
  const auto& v = from.value();
  if (auto* d = std::get_if<automation::Date>(&v)) date = *d;
  else if (auto* number = std::get_if<double>(&v)) date = automation::Date{*number};
  else if (auto* i32 = std::get_if<std::int32_t>(&v)) date = automation::Date{static_cast<double>(*i32)};
  else if (auto* i16 = std::get_if<std::int16_t>(&v)) date = automation::Date{static_cast<double>(*i16)};
  else return RuntimeError::kTypeMismatch;
  return {};
}

std::error_code ToErrorNumber(const Variant& from, std::int32_t& number) {
  const auto& v = from.value();
  if (auto* i32 = std::get_if<std::int32_t>(&v)) {
    number = *i32;
    return {};
  }
  double value = 0;
  if (std::holds_alternative<automation::Empty>(v)) value = 0;
  else if (auto* i16 = std::get_if<std::int16_t>(&v)) value = *i16;
  else if (auto* ref = std::get_if<automation::Int16Ref>(&v); ref != nullptr && ref->target != nullptr)
    value = *ref->target;
  else if (auto* d = std::get_if<double>(&v)) value = *d;
  else if (auto* b = std::get_if<bool>(&v)) value = *b ? -1 : 0;
  else if (auto* text = std::get_if<std::u16string>(&v)) {
    if (const std::error_code error = automation::ParseNumber(*text, value)) return error;
  } else {
    return RuntimeError::kTypeMismatch;
  }
  const double rounded = automation::RoundHalfToEven(value);
  // Also false for NaN.
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return RuntimeError::kOverflow;
  number = static_cast<std::int32_t>(rounded);
  return {};
}

// A plain file name: the log directory is the host's choice, not the caller's.
bool IsPlainFileName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (const char16_t c : name) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\') return false;
  }
  return true;
}

bool IsLineBreaking(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

// Text for one field: no control character may split the line or the fields.
std::string Field(std::u16string_view text) {
  std::u16string clean(text);
  for (char16_t& c : clean) {
    if (IsLineBreaking(c)) c = u' ';
  }
  return automation::ToUtf8(clean);
}

std::string DateField(automation::Date date) {
  const platform::LocalDateTime t = automation::ToLocalDateTime(date);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
  return text;
}

std::string TimeField(automation::Date time) {
  const platform::LocalDateTime t = automation::ToLocalDateTime(time);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

// Creates the directory and any missing parents, each 0755 whatever the
// umask says, so that other accounts can read the log.
bool EnsureDirectory(const fs::path& directory) {
  std::error_code error;
  if (fs::is_directory(directory, error)) return true;
  std::vector<fs::path> missing;
  for (fs::path p = directory; !p.empty() && !fs::exists(p, error); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    // Another process may be creating it at the same moment; that is fine.
    if (fs::create_directory(*it, error)) {
      constexpr fs::perms kMode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec;
      fs::permissions(*it, kMode, fs::perm_options::replace, error);
    } else if (error) {
      return false;
    }
  }
  return fs::is_directory(directory, error);
}

// Appends with one write: O_APPEND makes each write land whole at the end,
// so the stream must not split the line across several.
bool AppendLine(const fs::path& file, const std::string& line) {
  std::ofstream out;
  out.rdbuf()->pubsetbuf(nullptr, 0);
  out.open(file, std::ios::out | std::ios::app | std::ios::binary);
  if (!out.is_open()) return false;
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.close();
  return !out.fail();
}

}  // namespace

std::error_code ErrorLogObject::PutProperty(std::u16string_view name, const Variant& value) {
  return Contained([&]() -> std::error_code {
    if (IsMember(name, u"AppName")) return ToText(value, app_name_);
    if (IsMember(name, u"AppVersion")) return ToText(value, app_version_);
    if (IsMember(name, u"FileSection")) return ToText(value, file_section_);
    if (IsMember(name, u"AddlText")) return ToText(value, addl_text_);
    if (IsMember(name, u"WarningLevel")) return automation::ToInt16(value, warning_level_);
    if (IsMember(name, u"AppErrorFile")) {
      std::u16string file;
      if (const std::error_code error = ToText(value, file)) return error;
      if (!IsPlainFileName(file)) return RuntimeError::kInvalidPropertyValue;
      app_error_file_ = std::move(file);
      return {};
    }
    return RuntimeError::kMemberNotFound;
  });
}

std::error_code ErrorLogObject::GetProperty(std::u16string_view name, Variant& result) {
  return Contained([&]() -> std::error_code {
    if (IsMember(name, u"AppName")) result = app_name_;
    else if (IsMember(name, u"AppVersion")) result = app_version_;
    else if (IsMember(name, u"FileSection")) result = file_section_;
    else if (IsMember(name, u"AddlText")) result = addl_text_;
    else if (IsMember(name, u"WarningLevel")) result = warning_level_;
    else if (IsMember(name, u"AppErrorFile")) result = app_error_file_;
    else return RuntimeError::kMemberNotFound;
    return {};
  });
}

std::error_code ErrorLogObject::Call(std::u16string_view name, std::span<Variant> args, Variant* result) {
  return Contained([&]() -> std::error_code {
    if (result != nullptr) *result = Variant();
    if (IsMember(name, u"Add")) return Add(args);
    if (IsMember(name, u"LogError")) return args.empty() ? LogError() : RuntimeError::kWrongArgumentCount;
    if (IsMember(name, u"Clear")) {
      if (!args.empty()) return RuntimeError::kWrongArgumentCount;
      pending_.reset();
      addl_text_.clear();
      return {};
    }
    return RuntimeError::kMemberNotFound;
  });
}

std::error_code ErrorLogObject::Add(std::span<Variant> args) {
  if (args.size() != kAddArgumentCount) return RuntimeError::kWrongArgumentCount;
  // Everything is checked before anything changes: a refused Add leaves the
  // pending report as it was.
  Report report;
  std::error_code error = ToErrorNumber(args[0], report.number);
  if (!error) error = ToDate(args[4], report.date);
  if (!error) error = ToDate(args[5], report.time);
  if (!error) error = ToOptionalText(args[7], report.module);
  if (!error) error = ToOptionalText(args[8], report.procedure);
  if (!error) {
    // A by-reference level is read now: the caller's variable may change
    // before LogError.
    if (args[13].Is<automation::Missing>()) report.level = warning_level_;
    else error = automation::ToInt16(args[13], report.level);
  }
  if (error) return error;
  pending_ = std::move(report);
  addl_text_.clear();
  return {};
}

std::error_code ErrorLogObject::LogError() const {
  if (!pending_) return {};
  if (app_error_file_.empty()) return RuntimeError::kBadFileName;

  std::string line = DateField(pending_->date);
  for (const std::string& field :
       {TimeField(pending_->time), Field(app_name_), Field(app_version_), Field(file_section_), Field(pending_->module),
        Field(pending_->procedure), std::to_string(pending_->number), std::to_string(pending_->level)}) {
    line += '\t';
    line += field;
  }
  if (!addl_text_.empty()) {
    line += '\t';
    line += Field(addl_text_);
  }
  line += '\n';

  const fs::path directory = LogDirectory();
  if (!EnsureDirectory(directory)) return RuntimeError::kPathFileAccess;
  return AppendLine(directory / automation::ToUtf8(app_error_file_), line)
             ? std::error_code{}
             : std::error_code(RuntimeError::kPathFileAccess);
}

void RegisterErrorLogSubstitute(automation::ClassTable& table) {
  table.Register(std::string(kProgId), [] { return std::make_shared<ErrorLogObject>(); });
}

}  // namespace dovel::errorlog
