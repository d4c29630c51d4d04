#pragma once

#include <string>

namespace dovel::testing {

// A fresh identifier string from the system's GUID source, so that tests
// running side by side never share a block.
std::u16string NewIdentifier();

}  // namespace dovel::testing
