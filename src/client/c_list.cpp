// List snapshots of the C library: a bounded, cycle-safe walk kept as text.
#include <memory>
#include <string>
#include <vector>

#include "client/block_kind.h"
#include "client/c_boundary.h"
#include "dovel/client.h"
#include "store/cls_messages.h"
#include "store/list_walk.h"

struct dovel_list {
  std::vector<std::string> ids;
  dovel_result status = DOVEL_OK;
};

extern "C" {

dovel_result dovel_list_read(const char* head_id, size_t max_messages, dovel_list** out) {
  if (out == nullptr) return dovel::client::Finish(DOVEL_INVALID_ARGUMENT);
  bool wrong_kind = false;
  const dovel_result result = dovel::client::Guarded([&]() -> std::error_code {
    dovel::store::Identifier id;
    if (const std::error_code refused = dovel::client::ParseCallerId(head_id, id)) return refused;
    dovel_block_kind kind = DOVEL_BLOCK_UNKNOWN;
    if (const std::error_code unread = dovel::client::KindOfBlock(id, kind)) return unread;
    if (kind != DOVEL_BLOCK_LIST) {
      wrong_kind = true;
      return {};
    }
    dovel::store::clsMessages head;
    if (const std::error_code loaded = head.Load(id)) return loaded;
    const dovel::store::ListWalk walk =
        dovel::store::WalkList(head, max_messages == 0 ? DOVEL_WALK_DEFAULT_MAX : max_messages);
    auto list = std::make_unique<dovel_list>();
    list->ids.reserve(walk.messages.size());
    for (const std::u16string& message : walk.messages) list->ids.push_back(dovel::client::IdForCaller(message));
    // The walk's own failure belongs to the snapshot, not to this call.
    list->status = dovel::client::Finish(walk.error);
    *out = list.release();
    return {};
  });
  return wrong_kind ? dovel::client::Finish(DOVEL_WRONG_KIND) : result;
}

dovel_result dovel_list_status(const dovel_list* list) {
  return list == nullptr ? DOVEL_INVALID_ARGUMENT : list->status;
}

size_t dovel_list_count(const dovel_list* list) { return list == nullptr ? 0 : list->ids.size(); }

const char* dovel_list_id(const dovel_list* list, size_t index) {
  if (list == nullptr || index >= list->ids.size()) return nullptr;
  return list->ids[index].c_str();
}

void dovel_list_free(dovel_list* list) { delete list; }

}  // extern "C"
