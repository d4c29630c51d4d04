// dovel: the administrator's and the developer's command for Dovel's queues,
// blocks and settings. Each subcommand is in a file of its own; this one
// parses the line and runs the subcommand it names.
//
// Exit status: 0 success, 1 failure (the reason on standard error, as
// "dovel: ..."), 2 a line the command does not take (with its usage).

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace {

using dovel::tools::Subcommand;

// The subcommand the parse got furthest into, for its usage; the top level
// when it got into none.
const CLI::App& Deepest(const CLI::App& dovel, const std::vector<Subcommand>& subcommands) {
  for (const Subcommand& subcommand : subcommands) {
    if (subcommand.app->parsed()) return *subcommand.app;
  }
  return dovel;
}

int Dovel(int argc, char** argv) {
  CLI::App dovel("Looks into Dovel's queues and blocks, posts and takes messages, and edits the settings.", "dovel");
  dovel.require_subcommand(1);
  dovel.set_version_flag("--version", DOVEL_VERSION);
  const std::vector<Subcommand> subcommands = {
      dovel::tools::AddBlocks(dovel), dovel::tools::AddShow(dovel),  dovel::tools::AddPost(dovel),
      dovel::tools::AddTake(dovel),   dovel::tools::AddWatch(dovel), dovel::tools::AddSweep(dovel),
      dovel::tools::AddReg(dovel),    dovel::tools::AddBlock(dovel),
  };
  // After the subcommands: they would take it over.
  dovel.footer("Every subcommand takes --help. Exit status: 0 success, 1 failure, 2 usage error.");
  try {
    dovel.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version are answers, not errors.
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return dovel.exit(error);
    const std::string first = argc > 1 ? argv[1] : "";
    const bool known = std::any_of(subcommands.begin(), subcommands.end(),
                                   [&](const Subcommand& subcommand) { return subcommand.app->check_name(first); });
    if (!first.empty() && first[0] != '-' && !known) return dovel::tools::UsageError(dovel, "no subcommand " + first);
    return dovel::tools::UsageError(Deepest(dovel, subcommands), error.what());
  }
  for (const Subcommand& subcommand : subcommands) {
    if (subcommand.app->parsed()) return subcommand.run();
  }
  return dovel::tools::UsageError(dovel, "no subcommand");
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever escapes a subcommand (out of memory, most likely) is a failure
  // with a reason, never an abort.
  try {
    return Dovel(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dovel: %s\n", error.what());
  } catch (...) {
    std::fputs("dovel: unexpected failure\n", stderr);
  }
  return dovel::tools::kExitFailed;
}
