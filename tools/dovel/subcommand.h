#pragma once

#include <functional>
#include <string_view>

namespace CLI {
class App;
}  // namespace CLI

namespace dovel::tools {

// One subcommand of `dovel`: its part of the command line, and what it does
// once its line has parsed (returning the exit status).
struct Subcommand {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

// Each adds its subcommand, with its options and help, to `dovel`.
Subcommand AddBlocks(CLI::App& dovel);
Subcommand AddShow(CLI::App& dovel);
Subcommand AddPost(CLI::App& dovel);
Subcommand AddTake(CLI::App& dovel);
Subcommand AddWatch(CLI::App& dovel);
Subcommand AddSweep(CLI::App& dovel);
Subcommand AddReg(CLI::App& dovel);
Subcommand AddBlock(CLI::App& dovel);

// "dovel: REASON", then how `command` is used (its generated usage line, or
// `forms` for a subcommand that parses its own line), on standard error;
// returns kExitUsage.
int UsageError(const CLI::App& command, std::string_view reason, std::string_view forms = {});

// How help names the value of an option that takes an identifier.
inline constexpr const char* kIdType = "ID";

}  // namespace dovel::tools
