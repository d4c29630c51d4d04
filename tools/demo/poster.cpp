#include "tools/demo/poster.h"

#include <cstdint>
#include <iostream>

#include "dovel/client.h"

namespace dovel::demo {

// The second process posts the way any client does: through the C library.
int RunPoster(const std::string& work_queue, const std::string& current, const std::string& last_sent) {
  dovel_queue* queue = nullptr;
  const dovel_result opened = dovel_queue_open(work_queue.c_str(), current.c_str(), last_sent.c_str(), &queue);
  if (opened != DOVEL_OK) {
    std::cout << "cannot open the queue's lists: " << dovel_result_text(opened) << std::endl;
    return 1;
  }
  static constexpr std::uint8_t kData[] = {0x48, 0x69};
  int status = 0;
  for (const char* name : {"Hello", "How are you?", "Goodbye"}) {
    char id[DOVEL_ID_BUFFER];
    const dovel_result posted = dovel_queue_post(queue, name, kData, sizeof kData, 0, id);
    if (posted != DOVEL_OK) {
      std::cout << "could not post \"" << name << "\": " << dovel_result_text(posted) << std::endl;
      status = 1;
      break;
    }
    std::cout << "posted \"" << name << "\" as " << id << std::endl;
  }
  // The messages live as long as some process holds them open.
  std::string ignored;
  while (status == 0 && std::getline(std::cin, ignored)) {
  }
  dovel_queue_close(queue);
  return status;
}

}  // namespace dovel::demo
