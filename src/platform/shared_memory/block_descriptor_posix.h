#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>
#include <utility>

namespace dovel::platform::posix_block {

// Every descriptor of a block object is opened by OpenDescriptor and closed
// by the UniqueFd it returns, so this process knows all of them at any
// instant: the handle table's, those of an open, close or sweep still in
// flight on some thread, and the releases waiting for a retry. A forked child
// closes every one before it returns from fork(); a copy kept there would
// keep the parent's gate or hold alive on the shared open file description
// for as long as the child lives.

// The one owner of a block descriptor. Closing goes through the registry,
// which unlists the descriptor and closes it in one step that fork() cannot
// split.
class UniqueFd {
 public:
  UniqueFd() = default;
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }

  // Forgets the descriptor without closing it: for a forked child's copy,
  // which the registry has closed already.
  int release() noexcept { return std::exchange(fd_, -1); }
  void reset() noexcept;

 private:
  friend UniqueFd OpenDescriptor(const std::string& object, int flags, mode_t mode);
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}

  int fd_ = -1;
};

// shm_open with O_CLOEXEC added; empty with errno set on failure.
[[nodiscard]] UniqueFd OpenDescriptor(const std::string& object, int flags, mode_t mode);

// Registers the registry's fork handlers, once; a failure is the status
// every later OpenDescriptor fails with (errno set to it), since without
// them a child would keep descriptors it must not.
[[nodiscard]] std::error_code PrepareDescriptorsForFork();

}  // namespace dovel::platform::posix_block
