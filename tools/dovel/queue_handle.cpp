#include "tools/dovel/queue_handle.h"

namespace dovel::tools {
namespace {

const char* OrNull(const std::string& id) { return id.empty() ? nullptr : id.c_str(); }

}  // namespace

dovel_result OpenQueue(const std::string& work_queue, const std::string& current, const std::string& last_sent,
                       QueueHandle& out) {
  dovel_queue* queue = nullptr;
  const dovel_result result = dovel_queue_open(OrNull(work_queue), OrNull(current), OrNull(last_sent), &queue);
  if (result == DOVEL_OK) out.reset(queue);
  return result;
}

}  // namespace dovel::tools
