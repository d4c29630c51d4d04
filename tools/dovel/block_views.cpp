#include "tools/dovel/block_views.h"

#include <memory>

#include <nlohmann/json.hpp>

#include "tools/dovel/printable.h"

namespace dovel::tools {
namespace {

struct FreeMessage {
  void operator()(dovel_message* message) const { dovel_message_free(message); }
};
struct FreeList {
  void operator()(dovel_list* list) const { dovel_list_free(list); }
};

// A field the block never had written reads as "": shown as "-".
std::string Shown(const std::string& text) { return text.empty() ? "-" : Printable(text); }

nlohmann::json OrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

}  // namespace

dovel_result ReadMessage(const std::string& id, MessageView& out) {
  dovel_message* raw = nullptr;
  if (const dovel_result result = dovel_message_read(id.c_str(), &raw); result != DOVEL_OK) return result;
  const std::unique_ptr<dovel_message, FreeMessage> message(raw);
  MessageView view;
  view.id = dovel_message_id(raw);
  view.name = dovel_message_name(raw);
  view.owner_name = dovel_message_owner_name(raw);
  view.owner_id = dovel_message_owner_id(raw);
  view.client_id = dovel_message_client_id(raw);
  view.next_id = dovel_message_next_id(raw);
  view.head_id = dovel_message_head_id(raw);
  view.automatic = dovel_message_auto(raw) != 0;
  view.priority = dovel_message_priority(raw);
  std::size_t size = 0;
  const std::uint8_t* data = dovel_message_data(raw, &size);
  if (data != nullptr) view.data.assign(data, data + size);
  out = std::move(view);
  return DOVEL_OK;
}

std::string MessageLine(const MessageView& message) {
  return Printable(message.id) + '\t' + Shown(message.name) + '\t' + (message.automatic ? "auto" : "-") + '\t' +
         DataPreview(message.data);
}

std::string MessageDetails(const MessageView& message) {
  return "id: " + Printable(message.id) + "\nname: " + Shown(message.name) +
         "\nauto: " + (message.automatic ? "yes" : "no") + "\npriority: " + std::to_string(message.priority) +
         "\ndata: " + DataPreview(message.data) + "\nowner name: " + Shown(message.owner_name) +
         "\nowner id: " + Shown(message.owner_id) + "\nclient id: " + Shown(message.client_id) +
         "\nnext: " + Shown(message.next_id) + "\nhead: " + Shown(message.head_id) + '\n';
}

nlohmann::json MessageJson(const MessageView& message) {
  const std::string_view bytes(reinterpret_cast<const char*>(message.data.data()), message.data.size());
  return {
      {"id", message.id},
      {"name", message.name},
      {"auto", message.automatic},
      {"priority", message.priority},
      {"size", message.data.size()},
      {"data_hex", Hex(message.data, message.data.size())},
      // Only data that is text is given as text; the bytes are always there.
      {"data_text", IsUtf8(bytes) ? nlohmann::json(std::string(bytes)) : nlohmann::json()},
      {"owner_name", message.owner_name},
      {"owner_id", OrNull(message.owner_id)},
      {"client_id", OrNull(message.client_id)},
      {"next", OrNull(message.next_id)},
      {"head", OrNull(message.head_id)},
  };
}

dovel_result ReadList(const std::string& head, std::size_t max, ListView& out) {
  dovel_list* raw = nullptr;
  if (const dovel_result result = dovel_list_read(head.c_str(), max, &raw); result != DOVEL_OK) return result;
  const std::unique_ptr<dovel_list, FreeList> list(raw);
  ListView view;
  view.max = max;
  view.status = dovel_list_status(raw);
  const std::size_t count = dovel_list_count(raw);
  for (std::size_t i = 0; i < count; ++i) {
    if (const char* id = dovel_list_id(raw, i)) view.ids.emplace_back(id);
  }
  out = std::move(view);
  return DOVEL_OK;
}

std::string WalkNote(const ListView& list) {
  if (list.status == DOVEL_OK) return {};
  // A walk stopped by the bound says so with the same code as a loop.
  if (list.status == DOVEL_BROKEN_CHAIN && list.ids.size() >= list.max) {
    return "stopped after " + std::to_string(list.max) + " messages (--max)";
  }
  return "the walk stopped after " + std::to_string(list.ids.size()) +
         (list.ids.size() == 1 ? " message: " : " messages: ") + dovel_result_text(list.status);
}

const char* KindName(dovel_block_kind kind) {
  switch (kind) {
    case DOVEL_BLOCK_MESSAGE: return "message";
    case DOVEL_BLOCK_LIST: return "list";
    case DOVEL_BLOCK_UNKNOWN: break;
  }
  return "unknown";
}

}  // namespace dovel::tools
