#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace dovel::tools {

// One `dovel block` command line, checked but not yet run.
struct BlockCommand {
  enum class Kind { kCreate, kOpen, kRead, kWrite, kHold };

  Kind kind = Kind::kCreate;
  std::string_view name;         // a view into argv: the block's name
  std::uint32_t offset = 0;      // read, write
  std::uint32_t count = 0;       // read
  std::vector<std::byte> bytes;  // write
  bool create = false;           // hold --create
};

// The command `argv` asks for (argv[0] names the subcommand, argv[1] is the
// operation), or none when the line is not one the tool takes (the usage
// error). Offsets and counts are decimal digits only, the
// bytes of a write an even number of hexadecimal digits, and both must stay
// within the first kBlockSize bytes of the block.
std::optional<BlockCommand> ParseBlockCommand(int argc, const char* const* argv);

}  // namespace dovel::tools
