// dovel block: one named-block operation per run, through the platform
// layer. Tests start it as a second process; it helps diagnose a block by
// hand.
//
// Success: exit 0, results on stdout. Failure: the Windows error code alone
// on the first line of stderr, then the reason; exit 1 (2 for a line the
// subcommand does not take, whose code is 87).

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "tools/dovel/block_command.h"
#include "tools/dovel/printable.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

using platform::CurrentSharedMemory;
using platform::kBlockSize;
using platform::OpenResult;
using platform::OwnedBlock;

constexpr const char* kForms =
    "Usage: dovel block create NAME          creates or opens NAME, prints 0 or 183, lets go\n"
    "       dovel block open NAME            opens NAME, prints 0, lets go\n"
    "       dovel block read NAME OFFSET COUNT\n"
    "                                        prints COUNT bytes from OFFSET in hexadecimal\n"
    "       dovel block write NAME OFFSET HEXBYTES\n"
    "                                        writes the bytes at OFFSET\n"
    "       dovel block hold [--create] NAME  prints 0 (or 183), holds NAME until a line or the end of stdin\n"
    "OFFSET and COUNT are decimal and stay within the first 1024 bytes.";

int BlockFailed(std::string_view name, const std::error_code& status) {
  std::cerr << ErrorNumber(status) << "\ndovel: block " << Printable(name) << ": " << status.message() << std::endl;
  return kExitFailed;
}

// Opens `name`, maps it and hands the view to `use`.
template <class Use>
int WithView(std::string_view name, Use use) {
  auto& memory = CurrentSharedMemory();
  const OpenResult opened = memory.Open(name);
  if (opened.handle == 0) return BlockFailed(name, opened.status);
  OwnedBlock block(memory, opened.handle);
  if (const std::error_code status = block.Map()) return BlockFailed(name, status);
  use(block.view());
  return kExitOk;
}

int Read(const BlockCommand& command) {
  return WithView(command.name, [&](const std::byte* view) {
    std::vector<std::uint8_t> bytes(command.count);
    for (std::uint32_t i = 0; i < command.count; ++i)
      bytes[i] = std::to_integer<std::uint8_t>(view[command.offset + i]);
    std::cout << Hex(bytes, bytes.size()) << std::endl;
  });
}

int Write(const BlockCommand& command) {
  return WithView(command.name, [&](std::byte* view) {
    for (std::size_t i = 0; i < command.bytes.size(); ++i) view[command.offset + i] = command.bytes[i];
  });
}

// Prints the status of the create or open (0 or 183) and lets go at once.
int Report(std::string_view name, const OpenResult& opened) {
  if (opened.handle == 0) return BlockFailed(name, opened.status);
  const OwnedBlock block(CurrentSharedMemory(), opened.handle);
  std::cout << ErrorNumber(opened.status) << std::endl;
  return kExitOk;
}

// Prints the status once the handle is held, then keeps it until stdin
// delivers a line or closes, so the caller decides when the hold ends.
int Hold(std::string_view name, bool create) {
  auto& memory = CurrentSharedMemory();
  const OpenResult opened = create ? memory.CreateOrOpen(name, kBlockSize) : memory.Open(name);
  if (opened.handle == 0) return BlockFailed(name, opened.status);
  const OwnedBlock block(memory, opened.handle);
  std::cout << ErrorNumber(opened.status) << std::endl;
  std::string line;
  std::getline(std::cin, line);
  return kExitOk;
}

int Run(const CLI::App& app, const std::vector<std::string>& remaining) {
  std::vector<const char*> argv{"dovel block"};
  for (const std::string& arg : remaining) argv.push_back(arg.c_str());
  const auto command = ParseBlockCommand(static_cast<int>(argv.size()), argv.data());
  if (!command) {
    std::cerr << ErrorNumber(SystemError::kInvalidParameter) << '\n';
    return UsageError(app, "block takes no such line", kForms);
  }
  switch (command->kind) {
    case BlockCommand::Kind::kCreate:
      return Report(command->name, CurrentSharedMemory().CreateOrOpen(command->name, kBlockSize));
    case BlockCommand::Kind::kOpen: return Report(command->name, CurrentSharedMemory().Open(command->name));
    case BlockCommand::Kind::kRead: return Read(*command);
    case BlockCommand::Kind::kWrite: return Write(*command);
    case BlockCommand::Kind::kHold: return Hold(command->name, command->create);
  }
  return UsageError(app, "block takes no such line", kForms);
}

}  // namespace

Subcommand AddBlock(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("block", "One low-level operation on a named block");
  // The rest of the line is taken as typed; block_command.h parses it.
  app->prefix_command();
  app->footer(std::string("One low-level operation on a named block, for tests and diagnosis. A failure\n"
                          "prints the system's code alone on the first line of standard error.") +
              "\n\n" + kForms);
  return TakingItsOwnLine(app, Run);
}

}  // namespace dovel::tools
