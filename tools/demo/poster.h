#pragma once

#include <string>

namespace dovel::demo {

// The second process of the demonstration: a client that posts three
// messages into the queue's work queue through shared memory only, then
// keeps them open until its standard input ends.
int RunPoster(const std::string& work_queue, const std::string& current, const std::string& last_sent);

}  // namespace dovel::demo
