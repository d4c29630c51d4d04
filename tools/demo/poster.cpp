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
    std::cout << "cannot open the queue's lists: " << client.status().message() << std::endl;
    return 1;
  }
  for (const std::u16string name : {u"Hello", u"How are you?", u"Goodbye"}) {
    const auto posted = client.Post(name, false, {0x48, 0x69});
    if (posted.error) {
      std::cout << "could not post \"" << ToUtf8(name) << "\": " << posted.error.message() << std::endl;
      return 1;
    }
    std::cout << "posted \"" << ToUtf8(name) << "\" as " << ToUtf8(posted.value.view()) << std::endl;
  }
  // The messages live as long as some process holds them open.
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}

}  // namespace dovel::demo
