// dovel show: one block decoded; a list head with its list walked.

#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "dovel/client.h"
#include "tools/dovel/block_views.h"
#include "tools/dovel/printable.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

struct ShowOptions {
  std::string id;
  std::size_t max = 1000;
  bool json = false;
};

int ShowMessage(const ShowOptions& options) {
  MessageView message;
  if (const dovel_result result = ReadMessage(options.id, message); result != DOVEL_OK) {
    return Fail("show " + Printable(options.id), result);
  }
  if (options.json) {
    PrintJson({{"kind", "message"}, {"message", MessageJson(message)}});
  } else {
    std::cout << MessageDetails(message) << std::flush;
  }
  return kExitOk;
}

// The list's messages, one a line. A message that went between the walk
// and its read shows why it could not be read.
int ShowList(const ShowOptions& options) {
  ListView list;
  if (const dovel_result result = ReadList(options.id, options.max, list); result != DOVEL_OK) {
    return Fail("show " + Printable(options.id), result);
  }
  nlohmann::json messages = nlohmann::json::array();
  for (const std::string& id : list.ids) {
    MessageView message;
    const dovel_result result = ReadMessage(id, message);
    if (options.json) {
      messages.push_back(result == DOVEL_OK ? MessageJson(message)
                                            : nlohmann::json{{"id", id}, {"error", dovel_result_text(result)}});
    } else if (result == DOVEL_OK) {
      std::cout << MessageLine(message) << '\n';
    } else {
      std::cout << Printable(id) << "\t(" << dovel_result_text(result) << ")\n";
    }
  }
  const std::string note = WalkNote(list);
  if (options.json) {
    PrintJson({{"kind", "list"},
               {"id", options.id},
               {"messages", messages},
               {"complete", list.status == DOVEL_OK},
               {"status", dovel_result_text(list.status)},
               {"note", note}});
  } else if (!note.empty()) {
    std::cout << "-- " << note << '\n';
  }
  std::cout.flush();
  return kExitOk;
}

}  // namespace

Subcommand AddShow(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("show", "Shows one block; for a list head, its messages");
  app->footer(
      "Shows one block: every field of a message, or the messages of a list one a\n"
      "line (identifier, name, auto flag, data). A walk that loops, breaks or reaches\n"
      "--max ends and says so on its last line.");
  auto options = std::make_shared<ShowOptions>();
  app->add_option("ID", options->id, "The block's identifier")->required()->type_name("");
  app->add_option("--max", options->max, "At most this many messages of a list (default 1000)")
      ->check(CLI::Range(std::size_t{1}, std::size_t{DOVEL_WALK_DEFAULT_MAX}));
  app->add_flag("--json", options->json, "One JSON document");
  return {app, [options] {
            dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
            if (const dovel_result result = dovel_block_kind_of(options->id.c_str(), &kind); result != DOVEL_OK) {
              return Fail("show " + Printable(options->id), result);
            }
            if (kind == DOVEL_BLOCK_MESSAGE) return ShowMessage(*options);
            if (kind == DOVEL_BLOCK_LIST) return ShowList(*options);
            return Fail("show " + Printable(options->id), "the block holds neither a message nor a list head");
          }};
}

}  // namespace dovel::tools
