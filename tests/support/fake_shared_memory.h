#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/shared_memory/shared_memory.h"

namespace dovel::testing {

// In-process named blocks with the same create/open/lifetime results as the
// real ones, plus what tests need to see and provoke: how often each handle
// was closed and each view unmapped, and failures on demand.
class FakeSharedMemory final : public platform::SharedMemory {
 public:
  [[nodiscard]] platform::OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) override;
  [[nodiscard]] platform::OpenResult Open(std::string_view name) override;
  [[nodiscard]] platform::MapResult Map(platform::BlockHandle handle) override;
  void Unmap(std::byte* view) override;
  void Close(platform::BlockHandle handle) override;
  // In-process only: a lock held through another handle is never released
  // while the caller waits, so a taken lock times out at once.
  [[nodiscard]] std::error_code Lock(platform::BlockHandle handle, std::uint32_t timeout_ms) override;
  void Unlock(platform::BlockHandle handle) override;

  void FailNextMap(std::error_code status) { fail_map_ = status; }
  void FailNextCreate(std::error_code status) { fail_create_ = status; }
  void FailNextLock(std::error_code status) { fail_lock_ = status; }

  // Every Unmap and Close in the order they came, ignored ones too.
  enum class Release { kUnmap, kClose };
  const std::vector<Release>& releases() const { return releases_; }

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
  std::error_code fail_map_;
  std::error_code fail_create_;
  std::error_code fail_lock_;
  std::vector<Release> releases_;
  int closes_ = 0;
  int unmaps_ = 0;
  int bad_releases_ = 0;
};

inline void PrintTo(FakeSharedMemory::Release release, std::ostream* out) {
  *out << (release == FakeSharedMemory::Release::kUnmap ? "Unmap" : "Close");
}

}  // namespace dovel::testing
