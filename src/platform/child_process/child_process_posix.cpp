#include "platform/child_process/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace dovel::platform {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // Ignore a child's early exit on our side of the pipe: a write then fails
  // with EPIPE instead of ending this process.
  signal(SIGPIPE, SIG_IGN);
  // Built before the fork: a child of a threaded parent must not allocate.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_child_ = in[1];
  from_child_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (!waited_) {
    CloseInput();
    // A child that does not end on its own must not outlive the test.
    kill(pid_, SIGKILL);
    Wait();
  }
  if (from_child_ >= 0) close(from_child_);
}

std::string ChildProcess::ReadLine() {
  while (true) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    char buffer[256];
    const ssize_t got = read(from_child_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::exchange(pending_, {});
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string ChildProcess::ReadAll() {
  std::string all = std::exchange(pending_, {});
  char buffer[256];
  while (true) {
    const ssize_t got = read(from_child_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return all;
    all.append(buffer, static_cast<std::size_t>(got));
  }
}

void ChildProcess::CloseInput() {
  if (to_child_ >= 0) close(to_child_);
  to_child_ = -1;
}

int ChildProcess::Wait() {
  if (waited_) return status_;
  CloseInput();
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return status_;
}

std::string CurrentExecutablePath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace dovel::platform
