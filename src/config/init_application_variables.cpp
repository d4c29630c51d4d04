#include <cstdint>
#include <string>

#include "config/error_styles.h"
#include "config/mod_globals.h"
#include "config/mod_registry.h"
#include "platform/automation/conversions.h"
#include "platform/automation/object_factory.h"
#include "platform/automation/text.h"
#include "platform/process/process_info.h"

namespace {

namespace automation = dovel::platform::automation;
using dovel::config::Raise;

constexpr char16_t kAppWord[] = u"Vimra";

// A setting's text as a 16-bit integer, the way an assignment converts it:
// blanks around it allowed, a fraction rounded half to even; anything else
// (empty, not a number, out of range) is raised.
std::int16_t SettingAsInt16(const std::u16string& text) {
  std::int16_t value = 0;
  if (const std::error_code error = automation::ToInt16(automation::Variant(text), value)) Raise(error);
  return value;
}

// A setting's value for this process:
// - never set (no value, a value of another type, or the text "-1"): the
//   default, which is also written back so the administrator finds every
//   setting in place after the first start;
// - text that is not a 16-bit number: reported, and the default used for
//   this process only; the stored text stays as typed, for the
//   administrator to see and mend;
// - a store that could not be read (busy, locked, damaged, failing): the
//   value there may be perfectly good, so the default is used for this
//   process, the failure is reported and nothing is written.
std::int16_t SettingOrDefault(std::u16string_view section, std::u16string_view value_name, std::int16_t fallback) {
  namespace config = dovel::config;
  const config::SettingRead read = config::ReadAppSetting(kAppWord, section, value_name);
  std::int16_t value = fallback;
  bool write_back = read.found == config::SettingFound::kMissing;
  config::Reporting({config::sites::kInitApplicationVariables, value_name}, [&] {
    if (read.found == config::SettingFound::kUnreadable) Raise(read.status);
    if (read.found != config::SettingFound::kText) return;
    const std::int16_t stored = SettingAsInt16(read.text);
    if (stored == -1) {
      write_back = true;
    } else {
      value = stored;
    }
  });
  if (write_back) config::SaveAppSetting(kAppWord, section, value_name, automation::FromUtf8(std::to_string(fallback)));
  return value;
}

void Put(automation::Dispatch& object, std::u16string_view property, const automation::Variant& value) {
  if (const std::error_code error = object.PutProperty(property, value)) Raise(error);
}

}  // namespace

void InitApplicationVariables() {
  namespace config = dovel::config;
  namespace platform = dovel::platform;
  const auto& site = config::sites::kInitApplicationVariables;

  // A server nobody watches must not stop on an interactive error box.
  config::Reporting(site, [] { platform::SuppressErrorDialogs(); });

  // The error log comes first, so that a setting that cannot be used is
  // reported even on the thread's first start. The previous object stays
  // when creation fails.
  bool made = false;
  config::Reporting(site, [&] {
    automation::ObjectRef created;
    if (const std::error_code error =
            automation::CurrentObjectFactory().CreateObject("ErrorObject.clsErrorObject", created)) {
      Raise(error);
    }
    g_oErrorObject = std::move(created);
    made = true;
  });

  // One setting failing never stops the other, nor the error log's set-up:
  // each step below reports its own failure and goes on.
  g_iStandardPollRate = SettingOrDefault(u"Communications", u"StandardPollRate", 500);
  g_iWarningLevel = SettingOrDefault(u"Setup", u"WarningLevel", 5);

  // Only a new object is set up; one kept from an earlier start already is.
  if (!made) return;
  config::Reporting(site, [] {
    if (g_oErrorObject == nullptr) return;
    // Our own reference: a property put may run code that drops the thread's.
    const automation::ObjectRef error_object = g_oErrorObject;
    platform::ProcessInfo& process = platform::CurrentProcessInfo();
    const platform::FileVersionNumbers version = process.FileVersion();
    Put(*error_object, u"AppName", automation::FromUtf8(process.ExecutableName()));
    Put(*error_object, u"AppVersion",
        automation::FromUtf8(
            platform::FormatAppVersion(version.major, version.minor, version.build, version.revision)));
    Put(*error_object, u"WarningLevel", std::int16_t{g_iWarningLevel});
    Put(*error_object, u"AppErrorFile", std::u16string(u"Comm.err"));
    Put(*error_object, u"FileSection", std::u16string(u"COMM"));
  });
}
