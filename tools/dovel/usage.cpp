#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

Subcommand TakingItsOwnLine(CLI::App* app, std::function<int(const CLI::App&, const std::vector<std::string>&)> run) {
  return {app, [app, run = std::move(run)] {
            const std::vector<std::string> remaining = app->remaining();
            // `dovel reg get --help` is never a complete line, so no value
            // that happens to read "--help" is lost.
            if (remaining.size() == 2 && (remaining[1] == "--help" || remaining[1] == "-h")) {
              std::cout << app->help("dovel") << std::flush;
              return kExitOk;
            }
            return run(*app, remaining);
          }};
}

}  // namespace dovel::tools
