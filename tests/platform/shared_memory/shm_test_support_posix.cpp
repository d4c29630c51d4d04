#include "platform/shared_memory/shm_test_support_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <cerrno>
#include <cstring>
#include <utility>

#include "support/program_run_posix.h"

namespace dovel::platform::shm_test {
namespace {

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') return line;
    line += c;
  }
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts `dovel ARGS...` with its stdin/stdout/stderr on the given
// descriptors.
pid_t SpawnTool(const std::vector<std::string>& args, int in, int out, int err) {
  std::vector<char*> argv;
  std::string tool = DOVEL_PROGRAM;
  argv.push_back(tool.data());
  std::vector<std::string> copies(args);
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

std::string BackingPath(std::string_view name, unsigned uid) {
  return "/dev/shm/dovel." + std::to_string(uid) + "." + std::string(name);
}

std::string BackingPath(std::string_view name) { return BackingPath(name, geteuid()); }

bool BackingExists(std::string_view name) { return access(BackingPath(name).c_str(), F_OK) == 0; }

std::vector<std::string> ShmEntriesContaining(std::string_view token) {
  std::vector<std::string> found;
  if (DIR* directory = opendir("/dev/shm")) {
    while (const dirent* entry = readdir(directory)) {
      const std::string_view name(entry->d_name);
      if (name.find(token) != std::string_view::npos) found.emplace_back(name);
    }
    closedir(directory);
  }
  return found;
}

ForkedChild::ForkedChild(const std::function<int(int report_fd)>& body) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    close(fds[0]);
    _exit(body(fds[1]));
  }
  close(fds[1]);
  report_fd_ = fds[0];
}

ForkedChild::~ForkedChild() {
  Kill();
  if (report_fd_ >= 0) close(report_fd_);
}

std::string ForkedChild::ReadLine() { return ReadLineFrom(report_fd_); }

void ForkedChild::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Wait();
}

int ForkedChild::Wait() {
  if (pid_ <= 0) return -1;
  const int code = WaitFor(pid_);
  pid_ = -1;
  return code;
}

void Report(int fd, std::string_view line) {
  std::string text(line);
  text += '\n';
  WriteAll(fd, text);
}

ToolRun RunTool(const std::vector<std::string>& args) {
  std::vector<std::string> line{DOVEL_PROGRAM};
  line.insert(line.end(), args.begin(), args.end());
  testing::ProgramRun run = testing::RunProgram(line);
  return {run.exit_code, std::move(run.out), std::move(run.err)};
}

HeldByTool::HeldByTool(std::string_view name, bool create) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  std::vector<std::string> args{"block", "hold"};
  if (create) args.emplace_back("--create");
  args.emplace_back(name);
  pid_ = SpawnTool(args, in[0], out[1], 2);
  close(in[0]);
  close(out[1]);
  stdin_fd_ = in[1];
  status_ = ReadLineFrom(out[0]);
  close(out[0]);
}

HeldByTool::~HeldByTool() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitFor(pid_);
  }
  if (stdin_fd_ >= 0) close(stdin_fd_);
}

int HeldByTool::Release() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  stdin_fd_ = -1;
  if (pid_ <= 0) return -1;
  const int code = WaitFor(pid_);
  pid_ = -1;
  return code;
}

StaleBlockLock::StaleBlockLock() : fd_(open("/proc/self/exe", O_RDONLY | O_CLOEXEC)) {
  // The test executable itself: every process of this suite can lock it, and
  // nothing is left behind.
  if (fd_ >= 0) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

StaleBlockLock::~StaleBlockLock() {
  if (fd_ >= 0) close(fd_);
}

bool LeaveStaleBlock(const std::string& name) {
  ForkedChild child([&](int report) {
    auto& memory = CurrentSharedMemory();
    const OpenResult created = memory.CreateOrOpen(name, kBlockSize);
    const MapResult mapped = memory.Map(created.handle);
    if (created.status || mapped.view == nullptr) return 1;
    std::memset(mapped.view, 0x5A, kBlockSize);
    Report(report, "holding");
    pause();
    return 0;
  });
  const bool holding = child.ReadLine() == "holding";
  child.Kill();
  return holding;
}

}  // namespace dovel::platform::shm_test
