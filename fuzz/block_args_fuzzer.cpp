// `dovel block`'s command line: whatever an administrator or a script types.
//
// Input: the arguments after the program's name, separated by NUL bytes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_args.h"
#include "fuzz_check.h"
#include "platform/shared_memory/shared_memory.h"
#include "tools/dovel/block_command.h"

namespace {

using dovel::tools::BlockCommand;

bool AllOf(const std::string& text, const char* allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const dovel::fuzz::FuzzArgs args("block", data, size);
  const auto command = dovel::tools::ParseBlockCommand(args.argc(), args.argv());
  if (!command) return 0;

  constexpr char kDigits[] = "0123456789";
  using Kind = BlockCommand::Kind;
  const int expected_argc = command->kind == Kind::kRead || command->kind == Kind::kWrite ? 5 : command->create ? 4 : 3;
  DOVEL_FUZZ_CHECK(args.argc() == expected_argc);
  constexpr const char* kWords[] = {"create", "open", "read", "write", "hold"};
  DOVEL_FUZZ_CHECK(args[1] == kWords[static_cast<int>(command->kind)]);
  DOVEL_FUZZ_CHECK(command->create == (command->kind == Kind::kHold && args.argc() == 4));
  DOVEL_FUZZ_CHECK(command->name == args[command->create ? 3 : 2]);

  // Whatever a read or write touches lies inside the block, and the numbers
  // are the decimal digits as written.
  if (command->kind == Kind::kRead) {
    DOVEL_FUZZ_CHECK(AllOf(args[3], kDigits) && AllOf(args[4], kDigits));
    DOVEL_FUZZ_CHECK(command->offset <= dovel::platform::kBlockSize &&
                     command->count <= dovel::platform::kBlockSize - command->offset);
    DOVEL_FUZZ_CHECK(std::stoul(args[3]) == command->offset && std::stoul(args[4]) == command->count);
  }
  if (command->kind == Kind::kWrite) {
    const std::string& hex = args[4];
    DOVEL_FUZZ_CHECK(AllOf(args[3], kDigits) && std::stoul(args[3]) == command->offset);
    DOVEL_FUZZ_CHECK(hex.size() == command->bytes.size() * 2);
    DOVEL_FUZZ_CHECK(command->offset + command->bytes.size() <= dovel::platform::kBlockSize);
    for (std::size_t i = 0; i < command->bytes.size(); ++i) {
      DOVEL_FUZZ_CHECK(AllOf(hex.substr(i * 2, 2), "0123456789abcdefABCDEF"));
      DOVEL_FUZZ_CHECK(std::to_integer<int>(command->bytes[i]) == HexValue(hex[i * 2]) * 16 + HexValue(hex[i * 2 + 1]));
    }
  }
  return 0;
}
