#include "tools/dovel/block_command.h"

#include <charconv>
#include <system_error>

#include "platform/shared_memory/shared_memory.h"

namespace dovel::tools {
namespace {

using platform::kBlockSize;

std::optional<std::uint32_t> Number(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::vector<std::byte>> Bytes(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::byte> bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    std::uint8_t value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    bytes.push_back(static_cast<std::byte>(value));
  }
  return bytes;
}

// Every block has at least kBlockSize bytes; that is all the tool touches.
bool InBlock(std::uint32_t offset, std::uint32_t count) { return offset <= kBlockSize && count <= kBlockSize - offset; }

std::optional<BlockCommand> Read(std::string_view name, std::string_view offset_text, std::string_view count_text) {
  const auto offset = Number(offset_text);
  const auto count = Number(count_text);
  if (!offset || !count || !InBlock(*offset, *count)) return std::nullopt;
  return BlockCommand{BlockCommand::Kind::kRead, name, *offset, *count, {}, false};
}

std::optional<BlockCommand> Write(std::string_view name, std::string_view offset_text, std::string_view hex) {
  const auto offset = Number(offset_text);
  auto bytes = Bytes(hex);
  // The size check before the narrowing: a longer run of digits is no write.
  if (!offset || !bytes || bytes->size() > kBlockSize || !InBlock(*offset, static_cast<std::uint32_t>(bytes->size()))) {
    return std::nullopt;
  }
  return BlockCommand{BlockCommand::Kind::kWrite, name, *offset, 0, std::move(*bytes), false};
}

}  // namespace

std::optional<BlockCommand> ParseBlockCommand(int argc, const char* const* argv) {
  // An empty argv (argc 0) is possible from execve: no command either.
  if (argc < 2) return std::nullopt;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const std::string_view command = args[0];
  using Kind = BlockCommand::Kind;
  if (command == "create" && args.size() == 2) return BlockCommand{Kind::kCreate, args[1], 0, 0, {}, false};
  if (command == "open" && args.size() == 2) return BlockCommand{Kind::kOpen, args[1], 0, 0, {}, false};
  if (command == "read" && args.size() == 4) return Read(args[1], args[2], args[3]);
  if (command == "write" && args.size() == 4) return Write(args[1], args[2], args[3]);
  if (command == "hold" && args.size() == 2) return BlockCommand{Kind::kHold, args[1], 0, 0, {}, false};
  if (command == "hold" && args.size() == 3 && args[1] == "--create") {
    return BlockCommand{Kind::kHold, args[2], 0, 0, {}, true};
  }
  return std::nullopt;
}

}  // namespace dovel::tools
