#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// A subcommand that parses the rest of its line itself (`reg`, `block`):
// `--help` alone after its first word prints its help; anything else goes
// to `run` as typed.
Subcommand TakingItsOwnLine(CLI::App* app, std::function<int(const CLI::App&, const std::vector<std::string>&)> run);

// "dovel: REASON", then how `command` is used (its generated usage line, or
// `forms` for a subcommand that parses its own line), on standard error;
// returns kExitUsage.
int UsageError(const CLI::App& command, std::string_view reason, std::string_view forms = {});

// How help names the value of an option that takes an identifier.
inline constexpr const char* kIdType = "ID";

}  // namespace dovel::tools
