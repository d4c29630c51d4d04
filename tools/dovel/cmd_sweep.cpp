// dovel sweep: removes this user's blocks that no live process holds.

#include <iostream>

#include <CLI/CLI.hpp>

#include "dovel/client.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {

Subcommand AddSweep(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("sweep", "Removes this user's stale blocks");
  app->footer(
      "Removes this user's blocks that no live process holds (left by a crashed\n"
      "client or a killed server) and prints how many it removed. Blocks a live\n"
      "process holds are never touched.");
  return {app, [] {
            int removed = 0;
            if (const dovel_result result = dovel_sweep(&removed); result != DOVEL_OK) return Fail("sweep", result);
            std::cout << removed << std::endl;
            return kExitOk;
          }};
}

}  // namespace dovel::tools
