#pragma once

#include <string>
#include <string_view>

namespace dovel::platform::automation {

// Automation strings are UTF-16. These convert for logs, terminals and
// 8-bit system names. Unpaired surrogates become U+FFFD in UTF-8; invalid
// UTF-8 becomes U+FFFD in UTF-16.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The 8-bit form of a system name when every code unit is 1..127; false
// (and `ascii` untouched) otherwise.
bool ToAsciiName(std::u16string_view text, std::string& ascii);

}  // namespace dovel::platform::automation
