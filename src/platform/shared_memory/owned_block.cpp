#include <utility>

#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform {

OwnedBlock::OwnedBlock(SharedMemory& memory, BlockHandle handle) noexcept
    : memory_(handle != 0 ? &memory : nullptr), handle_(handle) {}

OwnedBlock::OwnedBlock(OwnedBlock&& other) noexcept
    : memory_(std::exchange(other.memory_, nullptr)),
      handle_(std::exchange(other.handle_, 0)),
      view_(std::exchange(other.view_, nullptr)) {}

OwnedBlock& OwnedBlock::operator=(OwnedBlock&& other) noexcept {
  if (this != &other) {
    Reset();
    memory_ = std::exchange(other.memory_, nullptr);
    handle_ = std::exchange(other.handle_, 0);
    view_ = std::exchange(other.view_, nullptr);
  }
  return *this;
}

std::error_code OwnedBlock::Map() {
  if (memory_ == nullptr) return SystemError::kInvalidHandle;
  if (view_ != nullptr) return {};
  const MapResult mapped = memory_->Map(handle_);
  view_ = mapped.view;
  return mapped.status;
}

std::error_code OwnedBlock::Lock(std::uint32_t timeout_ms) {
  if (memory_ == nullptr) return SystemError::kInvalidHandle;
  return memory_->Lock(handle_, timeout_ms);
}

void OwnedBlock::Unlock() {
  if (memory_ != nullptr) memory_->Unlock(handle_);
}

void OwnedBlock::Reset() noexcept {
  SharedMemory* const memory = std::exchange(memory_, nullptr);
  std::byte* const view = std::exchange(view_, nullptr);
  const BlockHandle handle = std::exchange(handle_, 0);
  if (memory == nullptr) return;
  // Neither call has anything to report; one that throws (out of memory
  // while queueing a release) must not keep the handle from being closed.
  try {
    if (view != nullptr) memory->Unmap(view);
  } catch (...) {
  }
  try {
    memory->Close(handle);
  } catch (...) {
  }
}

}  // namespace dovel::platform
