// dovel-block: one named-block operation per run. Tests start it as a second
// process; administrators run `dovel-block sweep` to remove blocks left behind
// by processes that ended without closing them.
//
// Success: exit 0, results on stdout. Failure: the Windows error code alone
// on the first line of stderr, exit 1.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/system_error.h"
#include "platform/shared_memory/shared_memory.h"
#include "tools/block/block_command.h"

namespace {

using dovel::platform::CurrentSharedMemory;
using dovel::platform::kBlockSize;
using dovel::tools::BlockCommand;
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

int Read(const BlockCommand& command) {
  return WithView(command.name, [&](const std::byte* view) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint32_t i = 0; i < command.count; ++i) {
      const auto value = std::to_integer<unsigned>(view[command.offset + i]);
      hex += kDigits[value >> 4];
      hex += kDigits[value & 0xF];
    }
    std::cout << hex << '\n';
  });
}

int Write(const BlockCommand& command) {
  return WithView(command.name, [&](std::byte* view) {
    for (std::size_t i = 0; i < command.bytes.size(); ++i) view[command.offset + i] = command.bytes[i];
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
  const auto command = dovel::tools::ParseBlockCommand(argc, argv);
  if (!command) return Usage();
  switch (command->kind) {
    case BlockCommand::Kind::kCreate: return CreateOrOpen(command->name);
    case BlockCommand::Kind::kOpen: return Open(command->name);
    case BlockCommand::Kind::kRead: return Read(*command);
    case BlockCommand::Kind::kWrite: return Write(*command);
    case BlockCommand::Kind::kHold: return Hold(command->name, command->create);
    case BlockCommand::Kind::kSweep: return Sweep();
  }
  return Usage();
}
