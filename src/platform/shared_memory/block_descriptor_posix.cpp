#include "platform/shared_memory/block_descriptor_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/shared_memory/errno_win32.h"

namespace dovel::platform::posix_block {
namespace {

// Linux frees the descriptor even when close() reports an error, and a
// shared-memory object has nothing left to write back: there is nothing to
// retry and nobody to tell.
void CloseRaw(int fd) { static_cast<void>(close(fd)); }

// The mutex is held from shm_open until the descriptor is listed, and from
// unlisting until close(), and fork() takes it too: so no descriptor exists
// unlisted at the instant of a fork.
class Descriptors {
 public:
  // Never destroyed: handles may still be closed during exit.
  static Descriptors& Instance() {
    static Descriptors* const instance = new Descriptors();
    return *instance;
  }

  int Open(const std::string& object, int flags, mode_t mode) {
    if (fork_hooks_ != 0) {
      errno = fork_hooks_;
      return -1;
    }
    const std::lock_guard lock(mutex_);
    // Room first: a descriptor that could not be listed would escape the
    // fork handler.
    if (open_.size() == open_.capacity()) open_.reserve(open_.size() * 2);
    const int fd = shm_open(object.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) open_.push_back(fd);
    return fd;
  }

  void Close(int fd) {
    const std::lock_guard lock(mutex_);
    const auto found = std::find(open_.begin(), open_.end(), fd);
    if (found != open_.end()) {
      *found = open_.back();
      open_.pop_back();
    }
    CloseRaw(fd);
  }

  int fork_hooks() const { return fork_hooks_; }

 private:
  Descriptors() {
    open_.reserve(64);
    fork_hooks_ = pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);
  }

  static void BeforeFork() { Instance().mutex_.lock(); }
  static void AfterForkInParent() { Instance().mutex_.unlock(); }

  // The parent's locks live on the open file descriptions it keeps, so closing
  // the child's copies leaves them alone. Their owners in the child's copy of
  // memory let go of them without closing (see UniqueFd::release).
  static void AfterForkInChild() {
    Descriptors& self = Instance();
    for (const int fd : self.open_) CloseRaw(fd);
    self.open_.clear();
    self.mutex_.unlock();
  }

  std::mutex mutex_;
  std::vector<int> open_;
  int fork_hooks_ = 0;  // what pthread_atfork returned
};

}  // namespace

void UniqueFd::reset() noexcept {
  if (fd_ >= 0) Descriptors::Instance().Close(std::exchange(fd_, -1));
}

UniqueFd OpenDescriptor(const std::string& object, int flags, mode_t mode) {
  return UniqueFd(Descriptors::Instance().Open(object, flags, mode));
}

std::error_code PrepareDescriptorsForFork() { return Win32FromErrno(Descriptors::Instance().fork_hooks()); }

}  // namespace dovel::platform::posix_block
