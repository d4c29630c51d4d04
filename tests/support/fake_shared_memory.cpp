#include "support/fake_shared_memory.h"

#include <utility>

#include "platform/core/system_error.h"

namespace dovel::testing {

namespace win32_error = platform::win32_error;

platform::OpenResult FakeSharedMemory::CreateOrOpen(std::string_view name, std::uint32_t size) {
  if (fail_create_ != 0) return {0, std::exchange(fail_create_, 0)};
  std::string key(name);
  std::int32_t status = win32_error::kAlreadyExists;
  auto& block = blocks_[key];
  if (block == nullptr) {
    block = std::make_shared<Block>();
    block->bytes.assign(size, std::byte{0});
    status = 0;
  }
  ++block->holders;
  handles_[next_handle_] = key;
  return {next_handle_++, status};
}

platform::OpenResult FakeSharedMemory::Open(std::string_view name) {
  const auto found = blocks_.find(std::string(name));
  if (found == blocks_.end()) return {0, win32_error::kFileNotFound};
  ++found->second->holders;
  handles_[next_handle_] = found->first;
  return {next_handle_++, 0};
}

platform::MapResult FakeSharedMemory::Map(platform::BlockHandle handle) {
  if (fail_map_ != 0) return {nullptr, std::exchange(fail_map_, 0)};
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return {nullptr, win32_error::kInvalidHandle};
  auto& block = blocks_.at(found->second);
  ++block->holders;
  std::byte* view = block->bytes.data();
  views_.emplace(view, found->second);
  return {view, 0};
}

void FakeSharedMemory::Unmap(std::byte* view) {
  ++unmaps_;
  const auto found = views_.find(view);
  if (found == views_.end()) {
    ++bad_releases_;
    return;
  }
  const std::string name = found->second;
  views_.erase(found);
  Drop(name);
}

void FakeSharedMemory::Close(platform::BlockHandle handle) {
  ++closes_;
  const auto found = handles_.find(handle);
  if (found == handles_.end()) {
    ++bad_releases_;
    return;
  }
  const std::string name = found->second;
  handles_.erase(found);
  if (blocks_.at(name)->locked_by == handle) blocks_.at(name)->locked_by = 0;
  Drop(name);
}

std::int32_t FakeSharedMemory::Lock(platform::BlockHandle handle, std::uint32_t) {
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return win32_error::kInvalidHandle;
  if (fail_lock_ != 0) return std::exchange(fail_lock_, 0);
  auto& block = blocks_.at(found->second);
  if (block->locked_by != 0 && block->locked_by != handle) return win32_error::kWaitTimeout;
  block->locked_by = handle;
  return 0;
}

void FakeSharedMemory::Unlock(platform::BlockHandle handle) {
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return;
  auto& block = blocks_.at(found->second);
  if (block->locked_by == handle) block->locked_by = 0;
}

void FakeSharedMemory::Drop(const std::string& name) {
  const auto found = blocks_.find(name);
  if (found != blocks_.end() && --found->second->holders == 0) blocks_.erase(found);
}

}  // namespace dovel::testing
