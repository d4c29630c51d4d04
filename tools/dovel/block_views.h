#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "dovel/client.h"

namespace dovel::tools {

// Every field of a message block, read through the client library.
struct MessageView {
  std::string id, name, owner_name, owner_id, client_id, next_id, head_id;
  bool automatic = false;
  std::int16_t priority = 0;
  std::vector<std::uint8_t> data;
};

[[nodiscard]] dovel_result ReadMessage(const std::string& id, MessageView& out);

// One line for a list of messages: identifier, name, auto flag, data
// preview, separated by tabs.
std::string MessageLine(const MessageView& message);
// Every field, one "field: value" line each.
std::string MessageDetails(const MessageView& message);
nlohmann::json MessageJson(const MessageView& message);

// A list read through the client library: its messages' identifiers in
// chain order and why the walk stopped (DOVEL_OK when it came back to the
// head, having read at most `max` of them).
struct ListView {
  std::vector<std::string> ids;
  dovel_result status = DOVEL_OK;
  std::size_t max = 0;
};

[[nodiscard]] dovel_result ReadList(const std::string& head, std::size_t max, ListView& out);

// Why a walk ended early, for a reader ("" for a whole chain).
std::string WalkNote(const ListView& list);

const char* KindName(dovel_block_kind kind);

}  // namespace dovel::tools
