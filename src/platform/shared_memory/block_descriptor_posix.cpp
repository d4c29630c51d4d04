#include "platform/shared_memory/block_descriptor_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace dovel::platform::posix_block {
namespace {

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
    const std::lock_guard lock(mutex_);
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
    close(fd);
  }

 private:
  Descriptors() {
    open_.reserve(64);
    pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);
  }

  static void BeforeFork() { Instance().mutex_.lock(); }
  static void AfterForkInParent() { Instance().mutex_.unlock(); }

  // The parent's locks live on the open file descriptions it keeps, so closing
  // the child's copies leaves them alone.
  static void AfterForkInChild() {
    Descriptors& self = Instance();
    for (const int fd : self.open_) close(fd);
    self.open_.clear();
    self.mutex_.unlock();
  }

  std::mutex mutex_;
  std::vector<int> open_;
};

}  // namespace

int OpenDescriptor(const std::string& object, int flags, mode_t mode) {
  return Descriptors::Instance().Open(object, flags, mode);
}

void CloseDescriptor(int fd) { Descriptors::Instance().Close(fd); }

}  // namespace dovel::platform::posix_block
