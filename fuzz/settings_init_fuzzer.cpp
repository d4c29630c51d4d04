// The whole settings start-up, InitApplicationVariables, on settings whose
// stored bytes are the input: an administrator may have typed anything, and
// another tool may have stored it with any type.
//
// Input: a flags byte, a length byte n, then n bytes of the poll rate's
// stored value and the rest for the warning level's. Flags:
//   1, 2   the poll rate / warning level is stored (else it is missing)
//   4, 8   ... stored as REG_BINARY rather than REG_SZ
//   16     an error-logging class is installed (else creating it fails)
//   32     that object refuses every property put and call
//   64     the store refuses writes

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "config/mod_globals.h"
#include "fuzz_check.h"
#include "memory_registry.h"
#include "platform/automation/object_factory.h"
#include "platform/clock/settable_clock.h"
#include "platform/core/current.h"
#include "platform/process/settable_process_info.h"
#include "support/recording_error_object.h"

namespace {

namespace automation = dovel::platform::automation;
namespace platform = dovel::platform;

constexpr char kComm[] = "Software\\Ostrel\\Vimra\\Communications";
constexpr char kSetup[] = "Software\\Ostrel\\Vimra\\Setup";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t poll_size = std::min<std::size_t>(data[1], size - 2);
  const std::string poll(reinterpret_cast<const char*>(data + 2), poll_size);
  const std::string warning(reinterpret_cast<const char*>(data + 2 + poll_size), size - 2 - poll_size);

  dovel::fuzz::MemoryRegistry registry;
  platform::ScopedOverride<platform::Registry> use_registry(registry);
  if ((flags & 1) != 0) {
    registry.Put(kComm, "StandardPollRate", (flags & 4) != 0 ? platform::reg_type::kBinary : platform::reg_type::kSz,
                 poll);
  }
  if ((flags & 2) != 0) {
    registry.Put(kSetup, "WarningLevel", (flags & 8) != 0 ? platform::reg_type::kBinary : platform::reg_type::kSz,
                 warning);
  }
  if ((flags & 64) != 0) registry.FailWrites(dovel::SystemError::kAccessDenied);

  automation::ClassTable classes;
  platform::ScopedOverride<automation::ObjectFactory> use_classes(classes);
  std::shared_ptr<dovel::testing::RecordingErrorObject> made;
  if ((flags & 16) != 0) {
    classes.Register("ErrorObject.clsErrorObject", [&] {
      made = std::make_shared<dovel::testing::RecordingErrorObject>();
      if ((flags & 32) != 0) {
        for (const auto* member : {u"Add", u"AddlText=", u"LogError", u"Clear", u"AppName=", u"AppVersion=",
                                   u"WarningLevel=", u"AppErrorFile=", u"FileSection="}) {
          made->FailMember(member, 440);
        }
      }
      return made;
    });
  }
  platform::SettableProcessInfo process("Comm", {1, 0, 0, 31});
  platform::ScopedOverride<platform::ProcessInfo> use_process(process);
  platform::SettableClock clock;
  platform::ScopedOverride<platform::Clock> use_clock(clock);

  g_iStandardPollRate = 0;
  g_iWarningLevel = 0;
  g_oErrorObject.reset();
  bool escaped = false;
  try {
    InitApplicationVariables();
  } catch (...) {
    escaped = true;
  }
  DOVEL_FUZZ_CHECK(!escaped);  // it reports its own failures

  // The error object is the one made, if any; every key opened is closed.
  DOVEL_FUZZ_CHECK(g_oErrorObject == made);
  DOVEL_FUZZ_CHECK(registry.open_keys() == 0);
  DOVEL_FUZZ_CHECK(registry.bad_closes() == 0);
  g_oErrorObject.reset();
  return 0;
}
