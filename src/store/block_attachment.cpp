#include "store/block_attachment.h"

#include <string>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"

namespace dovel::store {
namespace {

// A failure the layer gave no code for still has to fail.
[[nodiscard]] std::error_code FailureStatus(const std::error_code& status) {
  return status ? status : std::error_code(SystemError::kInvalidFunction);
}

}  // namespace

std::error_code BlockAttachment::Attach(const Identifier& id, Mode mode) {
  Release();
  // The identifier's form is ASCII throughout, so its 8-bit name is the block's.
  const std::string system_name = id.BlockName();

  platform::SharedMemory& memory = platform::CurrentSharedMemory();
  memory_ = &memory;
  const platform::OpenResult opened =
      mode == Mode::kCreateOrOpen ? memory.CreateOrOpen(system_name, platform::kBlockSize) : memory.Open(system_name);
  if (opened.handle == 0) config::Raise(FailureStatus(opened.status));
  m_hMap = opened.handle;

  const platform::MapResult mapped = memory.Map(m_hMap);
  if (mapped.view == nullptr) {
    memory.Close(m_hMap);
    m_hMap = 0;  // closed already: the release must not close it again
    config::Raise(FailureStatus(mapped.status));
  }
  m_pView = mapped.view;
  return opened.status;
}

std::byte* BlockAttachment::View() const {
  if (!IsAttached()) config::Raise(RuntimeError::kNotAttached);
  return m_pView;
}

std::error_code BlockAttachment::Lock(std::uint32_t timeout_ms) {
  if (!IsAttached()) return RuntimeError::kNotAttached;
  return memory_->Lock(m_hMap, timeout_ms);
}

void BlockAttachment::Unlock() noexcept {
  if (IsAttached()) memory_->Unlock(m_hMap);
}

void BlockAttachment::Release() noexcept {
  if (memory_ == nullptr) return;
  config::Ignoring(
      [&] {
        if (m_pView != nullptr) memory_->Unmap(m_pView);
      },
      [&] {
        if (m_hMap != 0) memory_->Close(m_hMap);
      });
  m_pView = nullptr;
  m_hMap = 0;
}

}  // namespace dovel::store
