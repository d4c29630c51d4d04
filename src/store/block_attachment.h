#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>

#include "platform/shared_memory/shared_memory.h"
#include "store/identifier.h"

namespace dovel::store {

// One object's hold on a named block: its handle and its view, kept for the
// object's whole life and released exactly once.
class BlockAttachment {
 public:
  enum class Mode { kCreateOrOpen, kOpenExisting };

  BlockAttachment() = default;
  ~BlockAttachment() { Release(); }
  BlockAttachment(const BlockAttachment&) = delete;
  BlockAttachment& operator=(const BlockAttachment&) = delete;

  // Attaches to the block named `id` and returns the status of the create or
  // open: success, or SystemError::kAlreadyExists when create found the block
  // existing (attached to it all the same). A failure raises the system's
  // status; when the mapping fails the handle is closed before the raise, so
  // nothing stays held. An attached instance lets go of its earlier block
  // first.
  [[nodiscard]] std::error_code Attach(const Identifier& id, Mode mode);

  // The view, or a raise of 13 when not attached.
  std::byte* View() const;

  bool IsAttached() const { return m_hMap != 0 && m_pView != nullptr; }

  // The block's cross-process lock (see SharedMemory::Lock): 0 when
  // acquired, 258 when it stayed taken for `timeout_ms`, 13 when detached.
  [[nodiscard]] std::error_code Lock(std::uint32_t timeout_ms);
  void Unlock() noexcept;

  // Unmaps, then closes; safe to call any number of times.
  void Release() noexcept;

 private:
  platform::BlockHandle m_hMap = 0;
  std::byte* m_pView = nullptr;
  // The implementation that handed out the handle takes it back.
  platform::SharedMemory* memory_ = nullptr;
};

}  // namespace dovel::store
