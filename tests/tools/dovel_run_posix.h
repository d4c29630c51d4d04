#pragma once

// Running the built `dovel` from a test, and the blocks a test makes for it.

#include <memory>
#include <string>
#include <vector>

#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/identifier.h"

namespace dovel::tools_test {

struct DovelRun {
  int status = -1;  // exit status, 128 + signal when killed
  std::string out, err;
};

// `dovel ARGS...` to its end, with no input.
DovelRun RunDovel(const std::vector<std::string>& args);

// The argv that starts `dovel ARGS...` as a platform::ChildProcess.
std::vector<std::string> DovelLine(const std::vector<std::string>& args);

// `text` split at its newlines (none after the last line).
std::vector<std::string> Lines(const std::string& text);

// A fresh identifier from the system's GUID source.
store::Identifier NewId();
// An identifier as the command line takes it.
std::string Text(const store::Identifier& id);

// A list head of this process's own, held while the object lives.
struct OwnList {
  OwnList();
  std::string id() const { return Text(list.ListId()); }
  store::clsMessages list;
};

// A message of this process's own named `name`, linked into `head` before
// `next` (the head itself for the last one).
std::shared_ptr<store::clsMessage> OwnMessage(const std::u16string& name, const store::Identifier& head,
                                              const store::Identifier& next);

}  // namespace dovel::tools_test
