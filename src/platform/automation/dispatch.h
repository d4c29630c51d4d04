#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <system_error>

#include "platform/automation/variant.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::automation {

// An object called by member name, the way IDispatch::Invoke is used: a
// property put, a property get or a method call. Every member returns
// success or the failure's runtime error; it never throws.
// Threads: on the thread of the apartment that created the object.
class Dispatch {
 public:
  virtual ~Dispatch() = default;

  [[nodiscard]] virtual std::error_code PutProperty(std::u16string_view name, const Variant& value) = 0;
  [[nodiscard]] virtual std::error_code GetProperty(std::u16string_view name, Variant& result) = 0;
  // `args` in positional order; by-reference arguments arrive as Int16Ref.
  [[nodiscard]] virtual std::error_code Call(std::u16string_view name, std::span<Variant> args, Variant* result) = 0;
};

}  // namespace dovel::platform::automation
