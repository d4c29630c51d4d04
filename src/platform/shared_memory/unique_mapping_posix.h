#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <utility>

namespace dovel::platform::posix_block {

// The one owner of a mapping from mmap: unmapped when the owner goes.
class UniqueMapping {
 public:
  UniqueMapping() = default;
  // `address` and `length` as mmap took and returned them.
  UniqueMapping(void* address, std::size_t length) noexcept : address_(address), length_(length) {}
  ~UniqueMapping() { reset(); }
  UniqueMapping(UniqueMapping&& other) noexcept
      : address_(std::exchange(other.address_, nullptr)), length_(std::exchange(other.length_, 0)) {}
  UniqueMapping& operator=(UniqueMapping&& other) noexcept {
    if (this != &other) {
      reset();
      address_ = std::exchange(other.address_, nullptr);
      length_ = std::exchange(other.length_, 0);
    }
    return *this;
  }
  UniqueMapping(const UniqueMapping&) = delete;
  UniqueMapping& operator=(const UniqueMapping&) = delete;

  std::byte* get() const noexcept { return static_cast<std::byte*>(address_); }
  std::size_t length() const noexcept { return length_; }

  // Forgets the mapping and leaves it mapped: a forked child's copy of a view
  // that code there may still be reading.
  void release() noexcept {
    address_ = nullptr;
    length_ = 0;
  }

  void reset() noexcept {
    // munmap fails only for a range that is not page-aligned or not mapped;
    // this owner holds exactly what mmap returned.
    if (address_ != nullptr) static_cast<void>(munmap(std::exchange(address_, nullptr), std::exchange(length_, 0)));
  }

 private:
  void* address_ = nullptr;
  std::size_t length_ = 0;
};

}  // namespace dovel::platform::posix_block
