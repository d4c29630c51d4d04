#pragma once

// The type library's contents against the published identity
// (com/published_identity.h): library attributes and documentation, every
// member's dispatch identifier, kind and vtable slot, every event, and the
// class's interfaces. Reports through GoogleTest expectations.

#include <windows.h>
#include <oaidl.h>

#include <string_view>

namespace dovel::testing {

void ExpectPublishedTypeLibrary(ITypeLib* library);

// The GUID of "{...}" text.
GUID GuidOf(std::string_view text);

}  // namespace dovel::testing
