#include "tools/demo/poster.h"

#include <iostream>

#include "client/queue_client.h"
#include "platform/automation/text.h"

namespace dovel::demo {

using platform::automation::FromUtf8;
using platform::automation::ToUtf8;

int RunPoster(const std::string& work_queue, const std::string& current, const std::string& last_sent) {
  client::QueueClient client(FromUtf8(work_queue), FromUtf8(current), FromUtf8(last_sent));
  if (!client.ok()) {
    std::cout << "cannot open the queue's lists" << std::endl;
    return 1;
  }
  for (const std::u16string name : {u"Hello", u"How are you?", u"Goodbye"}) {
    const std::u16string guid = client.Post(name, false, {0x48, 0x69});
    if (guid.empty()) {
      std::cout << "could not post \"" << ToUtf8(name) << "\"" << std::endl;
      return 1;
    }
    std::cout << "posted \"" << ToUtf8(name) << "\" as " << ToUtf8(guid) << std::endl;
  }
  // The messages live as long as some process holds them open.
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}

}  // namespace dovel::demo
