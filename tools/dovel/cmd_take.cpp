// dovel take: takes the message the server announced with SendData, as a
// client does, and prints it.

#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "dovel/client.h"
#include "tools/dovel/block_views.h"
#include "tools/dovel/queue_handle.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

struct TakeOptions {
  std::string current, last_sent;
  bool json = false;
};

int Take(const TakeOptions& options) {
  QueueHandle queue;
  if (const dovel_result result = OpenQueue("", options.current, options.last_sent, queue); result != DOVEL_OK) {
    return Fail("take: cannot open the queue", result);
  }
  char id[DOVEL_ID_BUFFER] = {};
  const dovel_result taken = dovel_queue_take(queue.get(), id);
  if (taken == DOVEL_EMPTY) {
    if (options.json) PrintJson(nullptr);
    return kExitOk;
  }
  if (taken != DOVEL_OK) return Fail("take", taken);
  // Read while this handle still holds it as the last sent message.
  MessageView message;
  if (const dovel_result result = ReadMessage(id, message); result != DOVEL_OK) {
    return Fail(std::string("take: took ") + id + " but cannot read it", result);
  }
  if (options.json) {
    PrintJson(MessageJson(message));
  } else {
    std::cout << MessageLine(message) << std::endl;
  }
  return kExitOk;
}

}  // namespace

Subcommand AddTake(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("take", "Takes the current message as a client does");
  app->footer(
      "Takes the current message as a client does: empties the current list CURRENT\n"
      "and makes the message the only one of the last-sent list LASTSENT. Prints it\n"
      "(identifier, name, auto flag, data); when there is none, prints nothing (with\n"
      "--json: null) and exits 0.");
  auto options = std::make_shared<TakeOptions>();
  app->add_option("CURRENT", options->current, "The current list's identifier")->required()->type_name("");
  app->add_option("LASTSENT", options->last_sent, "The last-sent list's identifier")->required()->type_name("");
  app->add_flag("--json", options->json, "The message as one JSON document");
  return {app, [options] { return Take(*options); }};
}

}  // namespace dovel::tools
