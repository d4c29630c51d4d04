// dovel-block: one named-block operation per run. Tests start it as a second
// process; administrators run `dovel-block sweep` to remove blocks left behind
// by processes that ended without closing them.
//
// Success: exit 0, results on stdout. Failure: the Windows error code alone
// on the first line of stderr, exit 1.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/system_error.h"
#include "platform/shared_memory/shared_memory.h"

namespace {

using dovel::platform::BlockHandle;
using dovel::platform::CurrentSharedMemory;
using dovel::platform::kBlockSize;
namespace win32_error = dovel::platform::win32_error;

constexpr std::string_view kUsage =
    "usage: dovel-block create NAME | open NAME | read NAME OFFSET COUNT |\n"
    "                   write NAME OFFSET HEXBYTES | hold [--create] NAME | sweep\n";

int Fail(std::int32_t code) {
  std::cerr << code << '\n';
  return 1;
}

int Usage() {
  std::cerr << win32_error::kInvalidParameter << '\n' << kUsage;
  return 1;
}

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
bool InBlock(std::uint32_t offset, std::uint32_t count) {
  return offset <= kBlockSize && count <= kBlockSize - offset;
}

// Opens `name`, maps it and hands the view to `use`.
template <class Use>
int WithView(std::string_view name, Use use) {
  auto& memory = CurrentSharedMemory();
  const auto opened = memory.Open(name);
  if (opened.handle == 0) return Fail(opened.status);
  const auto mapped = memory.Map(opened.handle);
  if (mapped.view == nullptr) {
    memory.Close(opened.handle);
    return Fail(mapped.status);
  }
  use(mapped.view);
  memory.Unmap(mapped.view);
  memory.Close(opened.handle);
  return 0;
}

int Read(std::string_view name, std::string_view offset_text, std::string_view count_text) {
  const auto offset = Number(offset_text);
  const auto count = Number(count_text);
  if (!offset || !count || !InBlock(*offset, *count)) return Usage();
  return WithView(name, [&](const std::byte* view) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint32_t i = 0; i < *count; ++i) {
      const auto value = std::to_integer<unsigned>(view[*offset + i]);
      hex += kDigits[value >> 4];
      hex += kDigits[value & 0xF];
    }
    std::cout << hex << '\n';
  });
}

int Write(std::string_view name, std::string_view offset_text, std::string_view hex) {
  const auto offset = Number(offset_text);
  const auto bytes = Bytes(hex);
  if (!offset || !bytes || !InBlock(*offset, static_cast<std::uint32_t>(bytes->size()))) return Usage();
  return WithView(name, [&](std::byte* view) {
    for (std::size_t i = 0; i < bytes->size(); ++i) view[*offset + i] = (*bytes)[i];
  });
}

int CreateOrOpen(std::string_view name) {
  auto& memory = CurrentSharedMemory();
  const auto opened = memory.CreateOrOpen(name, kBlockSize);
  if (opened.handle == 0) return Fail(opened.status);
  std::cout << opened.status << '\n';
  memory.Close(opened.handle);
  return 0;
}

int Open(std::string_view name) {
  auto& memory = CurrentSharedMemory();
  const auto opened = memory.Open(name);
  if (opened.handle == 0) return Fail(opened.status);
  std::cout << opened.status << '\n';
  memory.Close(opened.handle);
  return 0;
}

// Prints the status once the handle is held, then keeps it until stdin
// delivers a line or closes, so the caller decides when the hold ends.
int Hold(std::string_view name, bool create) {
  auto& memory = CurrentSharedMemory();
  const auto opened = create ? memory.CreateOrOpen(name, kBlockSize) : memory.Open(name);
  if (opened.handle == 0) return Fail(opened.status);
  std::cout << opened.status << std::endl;
  std::string line;
  std::getline(std::cin, line);
  memory.Close(opened.handle);
  return 0;
}

int Sweep() {
  std::cout << dovel::platform::SweepStaleBlocks() << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string_view command = args[0];
  if (command == "create" && args.size() == 2) return CreateOrOpen(args[1]);
  if (command == "open" && args.size() == 2) return Open(args[1]);
  if (command == "read" && args.size() == 4) return Read(args[1], args[2], args[3]);
  if (command == "write" && args.size() == 4) return Write(args[1], args[2], args[3]);
  if (command == "hold" && args.size() == 2) return Hold(args[1], false);
  if (command == "hold" && args.size() == 3 && args[1] == "--create") return Hold(args[2], true);
  if (command == "sweep" && args.size() == 1) return Sweep();
  return Usage();
}
