#pragma once

#include <string>
#include <vector>

namespace dovel::platform {

// A second process with a pipe to its standard input and one from its
// standard output. Its input stays open until CloseInput (or destruction),
// so a child that holds shared blocks until its input ends lives exactly as
// long as its parent needs. Destroying a child that has not been waited for
// closes its input and, if it is still running, kills it: no child outlives
// its owner unnoticed.
// Threads: one owner thread.
class ChildProcess {
 public:
  // argv[0] is the program's path. A child that cannot be started exits
  // with status 127.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of the child's standard output, without its newline; empty at
  // end of output. A Windows program's CR LF reads as a plain newline.
  std::string ReadLine();
  // Everything the child writes until it closes its output (CR LF read as
  // a newline there too).
  std::string ReadAll();
  void CloseInput();
  // Closes input, waits, and returns the exit status (-1 if killed).
  int Wait();

 private:
#ifdef _WIN32
  void* process_ = nullptr;  // HANDLEs; null when not open
  void* to_child_ = nullptr;
  void* from_child_ = nullptr;
  bool started_ = false;
  bool terminated_ = false;  // ended by us, not by itself
#else
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
#endif
  std::string pending_;
  bool waited_ = false;
  int status_ = -1;
};

// The path of the running executable, to start another copy of it.
std::string CurrentExecutablePath();

// Runs a program to the end and returns its exit status and standard output.
struct RunResult {
  int status = -1;
  std::string output;
};
RunResult Run(const std::vector<std::string>& argv);

}  // namespace dovel::platform
