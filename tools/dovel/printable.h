#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dovel::tools {

// Text read from a block is untrusted: a control character in a name would
// drive the terminal it is printed on. Control characters (C0, DEL, C1)
// become \xNN, and so does every byte that is not part of valid UTF-8.
std::string Printable(std::string_view text);

// Whether `bytes` are valid UTF-8.
bool IsUtf8(std::string_view bytes);

// The bytes as lower-case hexadecimal, two digits each.
std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t max_bytes);

// A message's data for one line of output: quoted text when it is UTF-8
// without control characters, cut after `kPreviewChars` characters; else
// its first bytes in hexadecimal. The size follows either way.
std::string DataPreview(const std::vector<std::uint8_t>& data);

}  // namespace dovel::tools
