// dovel blocks: this user's blocks, live or stale, each decoded as a message
// or a list head.

#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "dovel/client.h"
#include "platform/shared_memory/shared_memory.h"
#include "tools/dovel/block_views.h"
#include "tools/dovel/printable.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

// A list head's walk in the listing: enough to count any sane queue.
constexpr std::size_t kListingWalk = 10000;

struct Decoded {
  dovel_result result = DOVEL_OK;  // of the look inside the block
  dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
  MessageView message;
  ListView list;
};

// A stale block is not opened: an open removes what it finds stale, and a
// listing must leave it for the sweep. A live one may go stale between the
// listing and this look; the open then removes it as any client's would.
Decoded Decode(const platform::ListedBlock& block) {
  Decoded decoded;
  if (!block.live) return decoded;
  decoded.result = dovel_block_kind_of(block.name.c_str(), &decoded.kind);
  if (decoded.result != DOVEL_OK) return decoded;
  if (decoded.kind == DOVEL_BLOCK_MESSAGE) decoded.result = ReadMessage(block.name, decoded.message);
  if (decoded.kind == DOVEL_BLOCK_LIST) decoded.result = ReadList(block.name, kListingWalk, decoded.list);
  return decoded;
}

std::string Describe(const Decoded& decoded) {
  if (decoded.result != DOVEL_OK) return std::string("(") + dovel_result_text(decoded.result) + ")";
  if (decoded.kind == DOVEL_BLOCK_MESSAGE) {
    return Printable(decoded.message.name) + '\t' + (decoded.message.automatic ? "auto" : "-") + '\t' +
           DataPreview(decoded.message.data);
  }
  if (decoded.kind == DOVEL_BLOCK_LIST) {
    const std::string note = WalkNote(decoded.list);
    const std::size_t count = decoded.list.ids.size();
    return std::to_string(count) + (count == 1 ? " message" : " messages") + (note.empty() ? "" : "; " + note);
  }
  return {};
}

nlohmann::json Json(const platform::ListedBlock& block, const Decoded& decoded) {
  nlohmann::json entry = {{"name", block.name}, {"live", block.live}};
  if (!block.live) return entry;
  if (decoded.result != DOVEL_OK) {
    entry["error"] = dovel_result_text(decoded.result);
    return entry;
  }
  entry["kind"] = KindName(decoded.kind);
  if (decoded.kind == DOVEL_BLOCK_MESSAGE) entry["message"] = MessageJson(decoded.message);
  if (decoded.kind == DOVEL_BLOCK_LIST) {
    entry["list"] = {{"messages", decoded.list.ids},
                     {"complete", decoded.list.status == DOVEL_OK},
                     {"status", dovel_result_text(decoded.list.status)}};
  }
  return entry;
}

}  // namespace

Subcommand AddBlocks(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("blocks", "Lists this user's blocks, live or stale, each decoded");
  app->footer(
      "Lists this user's blocks, one a line: name, live or stale, kind, and for a\n"
      "message its name, auto flag and data, for a list head its length. Stale blocks\n"
      "are listed, not opened: `dovel sweep` removes them.");
  auto json = std::make_shared<bool>(false);
  app->add_flag("--json", *json, "One JSON array of the blocks");
  return {app, [json] {
            nlohmann::json all = nlohmann::json::array();
            for (const platform::ListedBlock& block : platform::ListBlocks()) {
              const Decoded decoded = Decode(block);
              if (*json) {
                all.push_back(Json(block, decoded));
                continue;
              }
              std::cout << Printable(block.name) << '\t' << (block.live ? "live" : "stale") << '\t'
                        << (block.live && decoded.result == DOVEL_OK ? KindName(decoded.kind) : "-") << '\t'
                        << Describe(decoded) << '\n';
            }
            if (*json) PrintJson(all);
            std::cout.flush();
            return kExitOk;
          }};
}

}  // namespace dovel::tools
