// The queue handle of the C library: a QueueClient behind the boundary.
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "client/c_boundary.h"
#include "client/queue_client.h"
#include "dovel/client.h"
#include "platform/core/error_codes.h"
#include "platform/process/descriptor_limit.h"
#include "store/block_layout.h"

struct dovel_queue {
  explicit dovel_queue(dovel::client::QueueClient opened) : client(std::move(opened)) {}
  dovel::client::QueueClient client;
};

namespace {

using dovel::client::CopyId;
using dovel::client::Finish;
using dovel::client::Guarded;
using dovel::client::ParseCallerId;

// An identifier given for a list, or the empty text for one left out.
std::error_code ListText(const char* text, std::u16string& out) {
  if (text == nullptr) return {};
  dovel::store::Identifier id;
  if (const std::error_code refused = ParseCallerId(text, id)) return refused;
  out = id.str();
  return {};
}

}  // namespace

extern "C" {

dovel_result dovel_queue_open(const char* work_queue, const char* current, const char* last_sent, dovel_queue** out) {
  if (out == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return Guarded([&]() -> std::error_code {
    // Every message a queue handle holds costs a descriptor on POSIX.
    static const long descriptor_limit = dovel::platform::RaiseDescriptorLimit();
    static_cast<void>(descriptor_limit);
    std::u16string ids[3];
    const char* given[] = {work_queue, current, last_sent};
    for (int i = 0; i < 3; ++i) {
      if (const std::error_code refused = ListText(given[i], ids[i])) return refused;
    }
    auto queue = std::make_unique<dovel_queue>(dovel::client::QueueClient(ids[0], ids[1], ids[2]));
    if (!queue->client.ok()) return queue->client.status();
    *out = queue.release();
    return {};
  });
}

void dovel_queue_close(dovel_queue* queue) {
  const std::lock_guard<std::recursive_mutex> lock(dovel::client::LibraryMutex());
  delete queue;
}

dovel_result dovel_queue_post(dovel_queue* queue, const char* name, const void* data, size_t size, int automatic,
                              char* id_out) {
  if (queue == nullptr || (data == nullptr && size != 0)) return Finish(DOVEL_INVALID_ARGUMENT);
  if (size > dovel::store::layout::kDataCapacityBytes) return Finish(DOVEL_TOO_LONG);
  std::u16string units;
  if (!dovel::client::FromCallerUtf8(name, units)) return Finish(DOVEL_BAD_TEXT);
  if (units.size() > dovel::store::layout::kTextCapacityBytes / 2) return Finish(DOVEL_TOO_LONG);
  return Guarded([&]() -> std::error_code {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    auto posted = queue->client.Post(units, automatic != 0, std::vector<std::uint8_t>(bytes, bytes + size));
    if (!posted.error) CopyId(posted.value, id_out);
    return posted.error;
  });
}

dovel_result dovel_queue_take(dovel_queue* queue, char* id_out) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  bool none = false;
  const dovel_result result = Guarded([&]() -> std::error_code {
    const auto taken = queue->client.Take();
    none = !taken.error && taken.value == dovel::store::Identifier();
    if (!none && !taken.error) CopyId(taken.value, id_out);
    return taken.error;
  });
  return none ? Finish(DOVEL_EMPTY) : result;
}

dovel_result dovel_queue_mark_last_sent(dovel_queue* queue, const char* id) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return Guarded([&]() -> std::error_code {
    dovel::store::Identifier message;
    if (const std::error_code refused = ParseCallerId(id, message)) return refused;
    return queue->client.MarkLastSent(message);
  });
}

dovel_result dovel_queue_length(dovel_queue* queue, size_t* count) {
  if (queue == nullptr || count == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return Guarded([&]() -> std::error_code {
    const auto queued = queue->client.Queued();
    if (!queued.error) *count = queued.value;
    return queued.error;
  });
}

dovel_result dovel_queue_waiting(dovel_queue* queue, size_t* count) {
  if (queue == nullptr || count == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return Guarded([&]() -> std::error_code {
    const auto waiting = queue->client.Waiting();
    if (!waiting.error) *count = waiting.value;
    return waiting.error;
  });
}

dovel_result dovel_queue_list_id(const dovel_queue* queue, dovel_queue_list which, char* id_out) {
  if (queue == nullptr || id_out == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  const dovel::store::Identifier* id = nullptr;
  switch (which) {
    case DOVEL_WORK_QUEUE: id = &queue->client.WorkQueueId(); break;
    case DOVEL_CURRENT: id = &queue->client.CurrentId(); break;
    case DOVEL_LAST_SENT: id = &queue->client.LastSentId(); break;
  }
  if (id == nullptr || *id == dovel::store::Identifier()) return Finish(DOVEL_INVALID_ARGUMENT);
  CopyId(*id, id_out);
  return Finish(DOVEL_OK);
}

}  // extern "C"
