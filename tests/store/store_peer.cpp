// A second process for the store's cross-process tests.
//   store_peer build-list N   make a list head and N messages "m1".."mN"
//                             linked under it, print the head's identifier
//                             and then each message's, and hold them all
//                             until standard input ends
//   store_peer walk HEAD      open the list HEAD, print each message's name
//                             in chain order; exit status = the walk's error
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/text.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/list_walk.h"
#include "support/identifiers.h"

namespace {

using dovel::platform::automation::FromUtf8;
using dovel::platform::automation::ToUtf8;
using dovel::store::clsMessage;
using dovel::store::clsMessages;

int BuildList(int count) {
  clsMessages head;
  const std::u16string head_guid = dovel::testing::NewIdentifier();
  if (head.Create(head_guid) != 0) return 2;
  std::cout << ToUtf8(head_guid) << std::endl;

  std::vector<std::unique_ptr<clsMessage>> messages;
  for (int i = 1; i <= count; ++i) {
    auto message = std::make_unique<clsMessage>();
    const std::u16string guid = dovel::testing::NewIdentifier();
    if (message->Create(guid) != 0) return 3;
    message->Name(FromUtf8("m" + std::to_string(i)));
    message->NextMsgGUID(head_guid);
    message->HeadGUID(head_guid);
    // Link behind the last message, or as the first of the empty list.
    if (messages.empty()) {
      head.FirstMsgGUID(guid);
    } else {
      messages.back()->NextMsgGUID(guid);
    }
    messages.push_back(std::move(message));
    std::cout << ToUtf8(guid) << std::endl;
  }
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}

int Walk(const std::string& head_guid) {
  clsMessages head;
  if (head.Load(FromUtf8(head_guid)) != 0) return 2;
  const dovel::store::ListWalk walk = dovel::store::WalkList(head);
  for (const auto& guid : walk.messages) {
    clsMessage message;
    if (message.Load(guid) != 0) return 3;
    std::cout << ToUtf8(message.Name()) << "\n";
  }
  return !walk.error ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 2 && args[0] == "build-list") return BuildList(std::stoi(args[1]));
    if (args.size() == 2 && args[0] == "walk") return Walk(args[1]);
  } catch (...) {
    return 5;
  }
  std::cerr << "usage: store_peer build-list N | walk HEAD\n";
  return 64;
}
