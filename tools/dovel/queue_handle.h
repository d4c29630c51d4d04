#pragma once

#include <memory>
#include <string>

#include "dovel/client.h"

namespace dovel::tools {

struct CloseQueue {
  void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
};
// A queue handle that lets go of its blocks when it goes.
using QueueHandle = std::unique_ptr<dovel_queue, CloseQueue>;

// dovel_queue_open with "" for a list not needed.
[[nodiscard]] dovel_result OpenQueue(const std::string& work_queue, const std::string& current,
                                     const std::string& last_sent, QueueHandle& out);

}  // namespace dovel::tools
