#include "tools/dovel_run_posix.h"

#include <stdexcept>
#include <utility>

#include "platform/guid/guid_source.h"
#include "support/program_run_posix.h"

namespace dovel::tools_test {

std::vector<std::string> DovelLine(const std::vector<std::string>& args) {
  std::vector<std::string> line{DOVEL_PROGRAM};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

DovelRun RunDovel(const std::vector<std::string>& args) {
  testing::ProgramRun run = testing::RunProgram(DovelLine(args));
  return {run.exit_code, std::move(run.out), std::move(run.err)};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

store::Identifier NewId() {
  platform::Guid guid;
  if (platform::CurrentGuidSource().CreateGuid(guid)) throw std::runtime_error("no GUID from the system");
  return store::Identifier::From(guid);
}

std::string Text(const store::Identifier& id) { return id.BlockName(); }

OwnList::OwnList() {
  if (list.Create(NewId())) throw std::runtime_error("cannot create a list head");
}

std::shared_ptr<store::clsMessage> OwnMessage(const std::u16string& name, const store::Identifier& head,
                                              const store::Identifier& next) {
  auto message = std::make_shared<store::clsMessage>();
  if (message->Create(NewId())) throw std::runtime_error("cannot create a message");
  message->Name(name);
  message->HeadGUID(head);
  message->NextMsgGUID(next);
  return message;
}

}  // namespace dovel::tools_test
