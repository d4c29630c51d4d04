// dovel-demo: a live conversation through a queue object that dovel-server
// holds on the session bus. Started with --poster by itself as the second
// process.
#include <iostream>
#include <string>

#include "tools/demo/conversation.h"
#include "tools/demo/poster.h"

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--poster") return dovel::demo::RunPoster(argv[2], argv[3], argv[4]);
  if (argc == 1) return dovel::demo::RunConversation();
  std::cerr << "usage: dovel-demo\n";
  return 64;
}
