// Handles and views of the POSIX implementation. The lifetime of the blocks
// themselves is in block_lifetime_posix.cpp; this file only decides when a
// handle's hold is given up: when both its Close and its last Unmap have run.

#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/core/system_error.h"
#include "platform/shared_memory/block_lifetime_posix.h"
#include "platform/shared_memory/block_name_posix.h"
#include "platform/shared_memory/errno_win32.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform {
namespace {

using posix_block::Win32FromErrno;

struct Block {
  int fd;
  std::string object;
  off_t allocated;  // bytes whose pages exist; a creator may grow the block later
  bool open = true;  // false once Close ran; views may still keep the hold
  std::size_t views = 0;
};

struct View {
  BlockHandle handle;
  std::size_t length;
};

// Handle values count up and are never reused within a process, so a stale
// or forged value finds nothing in the table instead of someone else's block.
class PosixSharedMemory final : public SharedMemory {
 public:
  // Never destroyed: other statics may still close handles during exit.
  static PosixSharedMemory& Instance() {
    static PosixSharedMemory* const instance = new PosixSharedMemory();
    return *instance;
  }

  OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) override {
    if (const std::int32_t status = posix_block::CheckName(name); status != 0) return {0, status};
    if (size == 0) return {0, win32_error::kInvalidParameter};
    std::string object = posix_block::ObjectName(name, geteuid());
    const posix_block::Acquired acquired = posix_block::CreateOrOpenBlock(object, size);
    if (acquired.fd < 0) return {0, acquired.status};
    return {Adopt(acquired, std::move(object)), acquired.status};
  }

  OpenResult Open(std::string_view name) override {
    if (const std::int32_t status = posix_block::CheckName(name); status != 0) return {0, status};
    std::string object = posix_block::ObjectName(name, geteuid());
    const posix_block::Acquired acquired = posix_block::OpenBlock(object);
    if (acquired.fd < 0) return {0, acquired.status};
    return {Adopt(acquired, std::move(object)), acquired.status};
  }

  MapResult Map(BlockHandle handle) override {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    if (found == blocks_.end() || !found->second->open) return {nullptr, win32_error::kInvalidHandle};
    Block& block = *found->second;
    // The size is read now rather than at open: a creator asking for more than
    // kBlockSize may have grown the block since.
    struct stat info {};
    if (fstat(block.fd, &info) != 0) return {nullptr, Win32FromErrno(errno)};
    // Only a hostile process of the same user shrinks a block; mapping it
    // would fault on access instead of failing here.
    if (info.st_size < static_cast<off_t>(kBlockSize)) return {nullptr, win32_error::kInvalidParameter};
    // Grown by ftruncate alone, its new pages may not exist yet.
    if (info.st_size > block.allocated) {
      if (const std::int32_t status = posix_block::Allocate(block.fd, info.st_size); status != 0) {
        return {nullptr, status};
      }
      block.allocated = info.st_size;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, block.fd, 0);
    if (address == MAP_FAILED) return {nullptr, Win32FromErrno(errno)};
    auto* view = static_cast<std::byte*>(address);
    views_.emplace(view, View{handle, length});
    ++block.views;
    return {view, win32_error::kSuccess};
  }

  void Unmap(std::byte* view) override {
    std::unique_ptr<Block> done;
    {
      const std::lock_guard lock(mutex_);
      const auto found = views_.find(view);
      if (found == views_.end()) return;
      munmap(view, found->second.length);
      const auto owner = blocks_.find(found->second.handle);
      views_.erase(found);
      if (--owner->second->views == 0 && !owner->second->open) done = Take(owner);
    }
    if (done) posix_block::ReleaseBlock(done->fd, done->object);
  }

  std::int32_t Lock(BlockHandle handle, std::uint32_t timeout_ms) override {
    const int fd = DescriptorOf(handle);
    if (fd < 0) return win32_error::kInvalidHandle;
    return posix_block::LockContent(fd, timeout_ms);
  }

  void Unlock(BlockHandle handle) override {
    const int fd = DescriptorOf(handle);
    if (fd >= 0) posix_block::UnlockContent(fd);
  }

  void Close(BlockHandle handle) override {
    std::unique_ptr<Block> done;
    {
      const std::lock_guard lock(mutex_);
      const auto found = blocks_.find(handle);
      if (found == blocks_.end() || !found->second->open) return;
      found->second->open = false;
      if (found->second->views == 0) done = Take(found);
    }
    if (done) posix_block::ReleaseBlock(done->fd, done->object);
  }

 private:
  using Blocks = std::unordered_map<BlockHandle, std::unique_ptr<Block>>;

  PosixSharedMemory() { pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild); }

  int DescriptorOf(BlockHandle handle) {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    return found == blocks_.end() || !found->second->open ? -1 : found->second->fd;
  }

  BlockHandle Adopt(const posix_block::Acquired& acquired, std::string object) {
    const std::lock_guard lock(mutex_);
    const BlockHandle handle = ++last_handle_;
    blocks_.emplace(handle, std::make_unique<Block>(Block{acquired.fd, std::move(object), acquired.allocated}));
    return handle;
  }

  std::unique_ptr<Block> Take(Blocks::iterator found) {
    std::unique_ptr<Block> block = std::move(found->second);
    blocks_.erase(found);
    return block;
  }

  // The lock-protocol work runs outside the mutex (it may wait, briefly, for
  // another process), so holding the mutex across fork() is safe and keeps
  // the table consistent in the child.
  static void BeforeFork() { Instance().mutex_.lock(); }
  static void AfterForkInParent() { Instance().mutex_.unlock(); }

  // Handles are not inherited: the child's copies of their descriptors are
  // closed with every other block descriptor (block_descriptor_posix.cpp).
  // The child's copies of views stay mapped, since code may still be reading
  // them, but no longer count as views.
  static void AfterForkInChild() {
    PosixSharedMemory& self = Instance();
    self.blocks_.clear();
    self.views_.clear();
    self.mutex_.unlock();
  }

  std::mutex mutex_;
  Blocks blocks_;  // open handles, and closed ones whose views remain
  std::unordered_map<std::byte*, View> views_;
  BlockHandle last_handle_ = 0;
};

}  // namespace

template <>
SharedMemory& SystemDefault<SharedMemory>() {
  return PosixSharedMemory::Instance();
}

int SweepStaleBlocks() { return posix_block::SweepStale(); }

}  // namespace dovel::platform
