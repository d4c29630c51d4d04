// A client process for the engine's concurrency test:
//   poster_peer COUNT WORK CURRENT LAST
// posts COUNT messages "0".."COUNT-1" as fast as it can, each linked behind
// the previous one while the server may be taking the head away, prints
// "done", and holds the messages until standard input ends.
#include <iostream>
#include <string>

#include "client/queue_client.h"
#include "platform/automation/text.h"

int main(int argc, char** argv) {
  if (argc != 5) return 64;
  using dovel::platform::automation::FromUtf8;
  dovel::client::QueueClient client(FromUtf8(argv[2]), FromUtf8(argv[3]), FromUtf8(argv[4]));
  if (!client.ok()) return 2;
  const int count = std::stoi(argv[1]);
  for (int i = 0; i < count; ++i) {
    if (client.Post(FromUtf8(std::to_string(i))).error) return 3;
  }
  std::cout << "done" << std::endl;
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}
