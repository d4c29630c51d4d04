#pragma once

// What a DLL says to serve one class of automation objects of ours in
// process, late-bound through IDispatch (no type library). No system header
// here: the DLL's own code stays free of them. The COM side is
// inproc_dispatch_server.cpp, linked in as dovel_platform_inproc_dispatch_server.

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/automation/dispatch.h"

namespace dovel::platform::com_server {

// A class identifier's fields, as the system's GUID holds them.
struct ClassId {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// The value of "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits of
// either case). Text of any other shape does not compile.
consteval ClassId ClassIdOf(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    throw std::invalid_argument("not a GUID in braces");
  }
  const auto digit = [](char c) -> std::uint32_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
    throw std::invalid_argument("not a hex digit");
  };
  const auto field = [&](std::size_t at, std::size_t digits) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) value = value * 16 + digit(text[at + i]);
    return value;
  };
  ClassId id;
  id.data1 = field(1, 8);
  id.data2 = static_cast<std::uint16_t>(field(10, 4));
  id.data3 = static_cast<std::uint16_t>(field(15, 4));
  id.data4[0] = static_cast<std::uint8_t>(field(20, 2));
  id.data4[1] = static_cast<std::uint8_t>(field(22, 2));
  for (std::size_t i = 0; i < 6; ++i) id.data4[2 + i] = static_cast<std::uint8_t>(field(25 + 2 * i, 2));
  return id;
}

struct DispatchClass {
  ClassId class_id;
  std::string_view prog_id;
  std::string_view description;  // the class key's name
  // One new object. May throw (out of memory); that becomes E_OUTOFMEMORY.
  std::shared_ptr<automation::Dispatch> (*create)();
};

// Defined by the DLL.
const DispatchClass& ServedDispatchClass();

}  // namespace dovel::platform::com_server
