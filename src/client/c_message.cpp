// Message snapshots of the C library: every field read once, kept as UTF-8.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/block_kind.h"
#include "client/c_boundary.h"
#include "dovel/client.h"
#include "platform/automation/variant.h"
#include "store/cls_message.h"

struct dovel_message {
  std::string id, name, owner_name, owner_id, client_id, next_id, head_id;
  std::vector<std::uint8_t> data;
  bool automatic = false;
  std::int16_t priority = 0;
};

namespace {

using dovel::client::IdForCaller;
using dovel::client::ToCallerUtf8;

void ReadFields(const dovel::store::clsMessage& block, dovel_message& out) {
  out.id = IdForCaller(block.MessageId().view());
  out.name = ToCallerUtf8(block.Name());
  out.owner_name = ToCallerUtf8(block.OwnerName());
  out.owner_id = IdForCaller(block.OwnerGUID());
  out.client_id = IdForCaller(block.ClientGUID());
  out.next_id = IdForCaller(block.NextMsgGUID());
  out.head_id = IdForCaller(block.HeadGUID());
  out.automatic = block.Auto();
  out.priority = block.Priority();
  const dovel::platform::automation::Variant data = block.Data();
  if (data.Is<dovel::platform::automation::ByteArray>()) {
    out.data = data.As<dovel::platform::automation::ByteArray>().bytes;
  }
}

}  // namespace

extern "C" {

dovel_result dovel_message_read(const char* id, dovel_message** out) {
  if (out == nullptr) return dovel::client::Finish(DOVEL_INVALID_ARGUMENT);
  bool wrong_kind = false;
  const dovel_result result = dovel::client::Guarded([&]() -> std::error_code {
    dovel::store::Identifier message_id;
    if (const std::error_code refused = dovel::client::ParseCallerId(id, message_id)) return refused;
    dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
    if (const std::error_code unread = dovel::client::KindOfBlock(message_id, kind)) return unread;
    if (kind != DOVEL_BLOCK_MESSAGE) {
      wrong_kind = true;
      return {};
    }
    dovel::store::clsMessage block;
    if (const std::error_code loaded = block.Load(message_id)) return loaded;
    auto message = std::make_unique<dovel_message>();
    ReadFields(block, *message);
    *out = message.release();
    return {};
  });
  return wrong_kind ? dovel::client::Finish(DOVEL_WRONG_KIND) : result;
}

const char* dovel_message_id(const dovel_message* message) { return message == nullptr ? "" : message->id.c_str(); }
const char* dovel_message_name(const dovel_message* message) { return message == nullptr ? "" : message->name.c_str(); }
const uint8_t* dovel_message_data(const dovel_message* message, size_t* size) {
  if (size != nullptr) *size = message == nullptr ? 0 : message->data.size();
  return message == nullptr || message->data.empty() ? nullptr : message->data.data();
}
int dovel_message_auto(const dovel_message* message) { return message != nullptr && message->automatic ? 1 : 0; }
int16_t dovel_message_priority(const dovel_message* message) {
  return message == nullptr ? int16_t{0} : message->priority;
}
const char* dovel_message_owner_name(const dovel_message* message) {
  return message == nullptr ? "" : message->owner_name.c_str();
}
const char* dovel_message_owner_id(const dovel_message* message) {
  return message == nullptr ? "" : message->owner_id.c_str();
}
const char* dovel_message_client_id(const dovel_message* message) {
  return message == nullptr ? "" : message->client_id.c_str();
}
const char* dovel_message_next_id(const dovel_message* message) {
  return message == nullptr ? "" : message->next_id.c_str();
}
const char* dovel_message_head_id(const dovel_message* message) {
  return message == nullptr ? "" : message->head_id.c_str();
}
void dovel_message_free(dovel_message* message) { delete message; }

}  // extern "C"
