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

#include "platform/core/error_codes.h"
#include "platform/shared_memory/block_descriptor_posix.h"
#include "platform/shared_memory/block_lifetime_posix.h"
#include "platform/shared_memory/block_name_posix.h"
#include "platform/shared_memory/errno_win32.h"
#include "platform/shared_memory/gate_turn_posix.h"
#include "platform/shared_memory/release_retry_posix.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/unique_mapping_posix.h"

namespace dovel::platform {
namespace {

using posix_block::UniqueFd;
using posix_block::UniqueMapping;
using posix_block::Win32FromErrno;

struct Block {
  UniqueFd fd;
  std::string object;
  off_t allocated;   // bytes whose pages exist; a creator may grow the block later
  bool open = true;  // false once Close ran; views may still keep the hold
  std::size_t views = 0;
};

struct View {
  BlockHandle handle;
  UniqueMapping mapping;
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

  [[nodiscard]] OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) override {
    if (const std::error_code status = posix_block::CheckName(name)) return {0, status};
    if (size == 0) return {0, SystemError::kInvalidParameter};
    if (fork_unsafe_) return {0, fork_unsafe_};
    std::string object = posix_block::ObjectName(name, geteuid());
    posix_block::Acquired acquired = posix_block::CreateOrOpenBlock(object, size);
    if (!acquired.fd) return {0, acquired.status};
    return {Adopt(acquired, std::move(object)), acquired.status};
  }

  [[nodiscard]] OpenResult Open(std::string_view name) override {
    if (const std::error_code status = posix_block::CheckName(name)) return {0, status};
    if (fork_unsafe_) return {0, fork_unsafe_};
    std::string object = posix_block::ObjectName(name, geteuid());
    posix_block::Acquired acquired = posix_block::OpenBlock(object);
    if (!acquired.fd) return {0, acquired.status};
    return {Adopt(acquired, std::move(object)), acquired.status};
  }

  [[nodiscard]] MapResult Map(BlockHandle handle) override {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    if (found == blocks_.end() || !found->second->open) return {nullptr, SystemError::kInvalidHandle};
    Block& block = *found->second;
    // The size is read now rather than at open: a creator asking for more than
    // kBlockSize may have grown the block since.
    struct stat info {};
    if (fstat(block.fd.get(), &info) != 0) return {nullptr, Win32FromErrno(errno)};
    // Only a hostile process of the same user shrinks a block; mapping it
    // would fault on access instead of failing here.
    if (info.st_size < static_cast<off_t>(kBlockSize)) return {nullptr, SystemError::kInvalidParameter};
    // Grown by ftruncate alone, its new pages may not exist yet.
    if (info.st_size > block.allocated) {
      if (const std::error_code status = posix_block::Allocate(block.fd.get(), info.st_size)) {
        return {nullptr, status};
      }
      block.allocated = info.st_size;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, block.fd.get(), 0);
    if (address == MAP_FAILED) return {nullptr, Win32FromErrno(errno)};
    UniqueMapping mapping(address, length);
    std::byte* view = mapping.get();
    views_.emplace(view, View{handle, std::move(mapping)});
    ++block.views;
    return {view, {}};
  }

  void Unmap(std::byte* view) override {
    std::unique_ptr<Block> done;
    {
      const std::lock_guard lock(mutex_);
      const auto found = views_.find(view);
      if (found == views_.end()) return;
      const auto owner = blocks_.find(found->second.handle);
      views_.erase(found);  // unmaps it
      if (--owner->second->views == 0 && !owner->second->open) done = Take(owner);
    }
    if (done) posix_block::ReleaseBlock(std::move(done->fd), done->object);
  }

  [[nodiscard]] std::error_code Lock(BlockHandle handle, std::uint32_t timeout_ms) override {
    const int fd = DescriptorOf(handle);
    if (fd < 0) return SystemError::kInvalidHandle;
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
    if (done) posix_block::ReleaseBlock(std::move(done->fd), done->object);
  }

  // Whether blocks may be handed out at all (see fork_unsafe_).
  bool fork_safe() const { return !fork_unsafe_; }

 private:
  using Blocks = std::unordered_map<BlockHandle, std::unique_ptr<Block>>;

  PosixSharedMemory() {
    const std::error_code statuses[] = {
        Win32FromErrno(pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild)),
        posix_block::PrepareDescriptorsForFork(),
        posix_block::PrepareGateTurnsForFork(),
        posix_block::PrepareRetriesForFork(),
    };
    for (const std::error_code& status : statuses) {
      if (status && !fork_unsafe_) fork_unsafe_ = status;
    }
  }

  // A descriptor lent out after the mutex is dropped: Lock and Unlock do not
  // run concurrently with Close of the same handle.
  int DescriptorOf(BlockHandle handle) {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    return found == blocks_.end() || !found->second->open ? -1 : found->second->fd.get();
  }

  BlockHandle Adopt(posix_block::Acquired& acquired, std::string object) {
    // A failure closes the descriptor, which takes the descriptor registry's
    // mutex: never under this one, or the two could meet a fork in opposite
    // order. So the block is made first, and moves in only once its entry
    // exists.
    auto block = std::make_unique<Block>(Block{std::move(acquired.fd), std::move(object), acquired.allocated});
    const std::lock_guard lock(mutex_);
    const BlockHandle handle = ++last_handle_;
    blocks_.emplace(handle, nullptr).first->second = std::move(block);
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
  // closed with every other block descriptor (block_descriptor_posix.cpp), so
  // their owners here only forget them. The child's copies of views stay
  // mapped, since code may still be reading them, but no longer count as
  // views.
  static void AfterForkInChild() {
    PosixSharedMemory& self = Instance();
    for (auto& [handle, block] : self.blocks_) block->fd.release();
    for (auto& [address, view] : self.views_) view.mapping.release();
    self.blocks_.clear();
    self.views_.clear();
    self.mutex_.unlock();
  }

  std::mutex mutex_;
  Blocks blocks_;  // open handles, and closed ones whose views remain
  std::unordered_map<std::byte*, View> views_;
  BlockHandle last_handle_ = 0;
  // Without every fork handler registered, a forked child could keep this
  // process's blocks or wait forever on a lock copied while taken: then no
  // block is handed out, and every open and create fails with this.
  std::error_code fork_unsafe_;
};

}  // namespace

template <>
SharedMemory& SystemDefault<SharedMemory>() {
  return PosixSharedMemory::Instance();
}

int SweepStaleBlocks() { return PosixSharedMemory::Instance().fork_safe() ? posix_block::SweepStale() : 0; }

}  // namespace dovel::platform
