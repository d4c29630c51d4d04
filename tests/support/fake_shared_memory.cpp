#include "support/fake_shared_memory.h"

#include <utility>

#include "platform/core/error_codes.h"

namespace dovel::testing {

platform::OpenResult FakeSharedMemory::CreateOrOpen(std::string_view name, std::uint32_t size) {
  if (fail_create_) return {0, std::exchange(fail_create_, {})};
  std::string key(name);
  std::error_code status = SystemError::kAlreadyExists;
  auto& block = blocks_[key];
  if (block == nullptr) {
    block = std::make_shared<Block>();
    block->bytes.assign(size, std::byte{0});
    status = {};
  }
  ++block->holders;
  handles_[next_handle_] = key;
  return {next_handle_++, status};
}

platform::OpenResult FakeSharedMemory::Open(std::string_view name) {
  const auto found = blocks_.find(std::string(name));
  if (found == blocks_.end()) return {0, SystemError::kFileNotFound};
  ++found->second->holders;
  handles_[next_handle_] = found->first;
  return {next_handle_++, {}};
}

platform::MapResult FakeSharedMemory::Map(platform::BlockHandle handle) {
  if (fail_map_) return {nullptr, std::exchange(fail_map_, {})};
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return {nullptr, SystemError::kInvalidHandle};
  auto& block = blocks_.at(found->second);
  ++block->holders;
  std::byte* view = block->bytes.data();
  views_.emplace(view, found->second);
  return {view, {}};
}

void FakeSharedMemory::Unmap(std::byte* view) {
  ++unmaps_;
  releases_.push_back(Release::kUnmap);
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
  releases_.push_back(Release::kClose);
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

std::error_code FakeSharedMemory::Lock(platform::BlockHandle handle, std::uint32_t) {
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return SystemError::kInvalidHandle;
  if (fail_lock_) return std::exchange(fail_lock_, {});
  auto& block = blocks_.at(found->second);
  if (block->locked_by != 0 && block->locked_by != handle) return SystemError::kWaitTimeout;
  block->locked_by = handle;
  return {};
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
