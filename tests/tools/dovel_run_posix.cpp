#include "tools/dovel_run_posix.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/guid/guid_source.h"

namespace dovel::tools_test {
namespace {

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

}  // namespace

std::vector<std::string> DovelLine(const std::vector<std::string>& args) {
  std::vector<std::string> line{DOVEL_PROGRAM};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

DovelRun RunDovel(const std::vector<std::string>& args) {
  std::vector<std::string> line = DovelLine(args);
  std::vector<char*> argv;
  for (std::string& arg : line) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  DovelRun run;
  // Standard error carries a line or two; the pipe holds that while the
  // listing of stdout, which may be long, is read.
  run.out = Drain(out[0]);
  run.err = Drain(err[0]);
  int status = 0;
  while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
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
