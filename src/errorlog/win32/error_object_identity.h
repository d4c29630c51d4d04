#pragma once

// The class ErrorObject.dll registers under errorlog::kProgId. Fixed for
// good: clients may have bound to it. README's identity table shows it.

#include <string_view>

namespace dovel::errorlog {

inline constexpr std::string_view kClassGuid = "{3F8E2C71-5A94-4D0B-B6E3-91C7A2D4F058}";

}  // namespace dovel::errorlog
