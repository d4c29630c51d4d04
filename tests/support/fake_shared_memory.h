#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_memory/shared_memory.h"

namespace dovel::testing {

// In-process named blocks with the same create/open/lifetime results as the
// real ones, plus what tests need to see and provoke: how often each handle
// was closed and each view unmapped, and failures on demand.
class FakeSharedMemory final : public platform::SharedMemory {
 public:
  platform::OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) override;
  platform::OpenResult Open(std::string_view name) override;
  platform::MapResult Map(platform::BlockHandle handle) override;
  void Unmap(std::byte* view) override;
  void Close(platform::BlockHandle handle) override;
  // In-process only: a lock held through another handle is never released
  // while the caller waits, so a taken lock times out at once.
  std::int32_t Lock(platform::BlockHandle handle, std::uint32_t timeout_ms) override;
  void Unlock(platform::BlockHandle handle) override;

  void FailNextMap(std::int32_t status) { fail_map_ = status; }
  void FailNextCreate(std::int32_t status) { fail_create_ = status; }
  void FailNextLock(std::int32_t status) { fail_lock_ = status; }

  int closes() const { return closes_; }
  int unmaps() const { return unmaps_; }
  // Calls that named a handle or view that was not open: must stay 0.
  int bad_releases() const { return bad_releases_; }
  bool Exists(const std::string& name) const { return blocks_.count(name) != 0; }
  std::size_t open_handles() const { return handles_.size(); }

 private:
  struct Block {
    std::vector<std::byte> bytes;
    int holders = 0;  // handles and views
    platform::BlockHandle locked_by = 0;
  };
  void Drop(const std::string& name);

  std::map<std::string, std::shared_ptr<Block>> blocks_;
  std::map<platform::BlockHandle, std::string> handles_;
  // Views of one block share its bytes, so one address may be mapped twice.
  std::multimap<std::byte*, std::string> views_;
  platform::BlockHandle next_handle_ = 1;
  std::int32_t fail_map_ = 0;
  std::int32_t fail_create_ = 0;
  std::int32_t fail_lock_ = 0;
  int closes_ = 0;
  int unmaps_ = 0;
  int bad_releases_ = 0;
};

}  // namespace dovel::testing
