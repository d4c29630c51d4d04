#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/automation/dispatch.h"
#include "platform/core/current.h"

namespace dovel::platform::automation {

// CreateObject by programmatic identifier. On Windows this is CLSIDFromProgID
// and CoCreateInstance; elsewhere the classes are those the host registered
// at start (registration is what installing a component does on Windows).
// Threads: may be called from any thread.
class ObjectFactory {
 public:
  using Creator = std::function<ObjectRef()>;

  virtual ~ObjectFactory() = default;

  // Returns success and a new object, or kCannotCreateObject when no class has that identifier or
  // its creator made nothing.
  [[nodiscard]] virtual std::error_code CreateObject(std::string_view prog_id, ObjectRef& object) = 0;
};

// The class table used where the platform has no object registry of its
// own, and by tests to put a double in place of an outside component.
class ClassTable final : public ObjectFactory {
 public:
  [[nodiscard]] std::error_code CreateObject(std::string_view prog_id, ObjectRef& object) override;

  void Register(std::string prog_id, Creator creator);
  void Unregister(std::string_view prog_id);

 private:
  std::mutex mutex_;
  // Programmatic identifiers match without regard to ASCII case, as on Windows.
  struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::map<std::string, Creator, CaseInsensitiveLess> creators_;
};

}  // namespace dovel::platform::automation

namespace dovel::platform {
template <>
automation::ObjectFactory& SystemDefault<automation::ObjectFactory>();
}  // namespace dovel::platform

namespace dovel::platform::automation {

inline ObjectFactory& CurrentObjectFactory() { return Current<ObjectFactory>::Get(); }

// The process's own class table (the system default on POSIX).
ClassTable& ProcessClassTable();

}  // namespace dovel::platform::automation
