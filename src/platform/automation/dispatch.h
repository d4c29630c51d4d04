#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/automation/variant.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::automation {

// Error numbers that late-bound calls produce themselves, as the bare numbers
// the members below return.
inline constexpr std::int32_t kErrMemberNotFound = static_cast<std::int32_t>(RuntimeError::kMemberNotFound);
inline constexpr std::int32_t kErrCannotCreateObject = static_cast<std::int32_t>(RuntimeError::kCannotCreateObject);
inline constexpr std::int32_t kErrWrongArgumentCount = static_cast<std::int32_t>(RuntimeError::kWrongArgumentCount);

// An object called by member name, the way IDispatch::Invoke is used: a
// property put, a property get or a method call. Every member returns 0 or
// the error number of the failure; it never throws.
// Threads: on the thread of the apartment that created the object.
class Dispatch {
 public:
  virtual ~Dispatch() = default;

  virtual std::int32_t PutProperty(std::u16string_view name, const Variant& value) = 0;
  virtual std::int32_t GetProperty(std::u16string_view name, Variant& result) = 0;
  // `args` in positional order; by-reference arguments arrive as Int16Ref.
  virtual std::int32_t Call(std::u16string_view name, std::span<Variant> args, Variant* result) = 0;
};

}  // namespace dovel::platform::automation
