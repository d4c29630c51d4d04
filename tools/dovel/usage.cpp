#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

// "dovel post" for the post subcommand.
std::string FullName(const CLI::App& command) {
  const CLI::App* parent = command.get_parent();
  return parent == nullptr ? command.get_name() : FullName(*parent) + " " + command.get_name();
}

}  // namespace

int UsageError(const CLI::App& command, std::string_view reason, std::string_view forms) {
  std::cerr << "dovel: " << reason << '\n';
  const std::string name = FullName(command);
  if (!forms.empty()) {
    std::cerr << forms << '\n';
  } else if (const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(command.get_formatter())) {
    std::cerr << formatter->make_usage(&command, name);
  }
  std::cerr << "Run '" << name << " --help' for more." << std::endl;
  return kExitUsage;
}

}  // namespace dovel::tools
