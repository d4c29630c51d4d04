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
  if (const std::int32_t error = automation::ToInt16(automation::Variant(text), value); error != 0) Raise(error);
  return value;
}

void Put(automation::Dispatch& object, std::u16string_view property, const automation::Variant& value) {
  if (const std::int32_t error = object.PutProperty(property, value); error != 0) Raise(error);
}

}  // namespace

void InitApplicationVariables() {
  namespace config = dovel::config;
  namespace platform = dovel::platform;

  config::Reporting(config::sites::kInitApplicationVariables, [] {
    // A server nobody watches must not stop on an interactive error box.
    platform::SuppressErrorDialogs();

    // -1 stands for "never set": the default is then written back, so the
    // administrator finds every setting in place after the first start.
    g_iStandardPollRate =
        SettingAsInt16(config::GetAppSetting(kAppWord, u"Communications", u"StandardPollRate", u"-1"));
    if (g_iStandardPollRate == -1) {
      config::SaveAppSetting(kAppWord, u"Communications", u"StandardPollRate", u"500");
      g_iStandardPollRate = 500;
    }

    g_iWarningLevel = SettingAsInt16(config::GetAppSetting(kAppWord, u"Setup", u"WarningLevel", u"-1"));
    if (g_iWarningLevel == -1) {
      config::SaveAppSetting(kAppWord, u"Setup", u"WarningLevel", u"5");
      g_iWarningLevel = 5;
    }

    // The previous object stays when creation fails.
    automation::ObjectRef created;
    if (const std::int32_t error =
            automation::CurrentObjectFactory().CreateObject("ErrorObject.clsErrorObject", created);
        error != 0) {
      Raise(error);
    }
    g_oErrorObject = std::move(created);
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
