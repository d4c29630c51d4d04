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
#include <system_error>
#include <vector>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "tools/block/block_command.h"

namespace {

using dovel::ErrorNumber;
using dovel::SystemError;
using dovel::platform::CurrentSharedMemory;
using dovel::platform::kBlockSize;
using dovel::platform::OpenResult;
using dovel::platform::OwnedBlock;
using dovel::tools::BlockCommand;

constexpr std::string_view kUsage =
    "usage: dovel-block create NAME | open NAME | read NAME OFFSET COUNT |\n"
    "                   write NAME OFFSET HEXBYTES | hold [--create] NAME | sweep\n";

int Fail(const std::error_code& status) {
  std::cerr << ErrorNumber(status) << '\n';
  return 1;
}

int Usage() {
  std::cerr << ErrorNumber(SystemError::kInvalidParameter) << '\n' << kUsage;
  return 1;
}

// Opens `name`, maps it and hands the view to `use`.
template <class Use>
int WithView(std::string_view name, Use use) {
  auto& memory = CurrentSharedMemory();
  const OpenResult opened = memory.Open(name);
  if (opened.handle == 0) return Fail(opened.status);
  OwnedBlock block(memory, opened.handle);
  if (const std::error_code status = block.Map()) return Fail(status);
  use(block.view());
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

// Prints the status of the create or open (0 or 183) and lets go at once.
int Report(const OpenResult& opened) {
  if (opened.handle == 0) return Fail(opened.status);
  const OwnedBlock block(CurrentSharedMemory(), opened.handle);
  std::cout << ErrorNumber(opened.status) << '\n';
  return 0;
}

int CreateOrOpen(std::string_view name) { return Report(CurrentSharedMemory().CreateOrOpen(name, kBlockSize)); }

int Open(std::string_view name) { return Report(CurrentSharedMemory().Open(name)); }

// Prints the status once the handle is held, then keeps it until stdin
// delivers a line or closes, so the caller decides when the hold ends.
int Hold(std::string_view name, bool create) {
  auto& memory = CurrentSharedMemory();
  const OpenResult opened = create ? memory.CreateOrOpen(name, kBlockSize) : memory.Open(name);
  if (opened.handle == 0) return Fail(opened.status);
  const OwnedBlock block(memory, opened.handle);
  std::cout << ErrorNumber(opened.status) << std::endl;
  std::string line;
  std::getline(std::cin, line);
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
