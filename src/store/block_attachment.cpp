#include "store/block_attachment.h"

#include <string>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "platform/automation/text.h"

namespace dovel::store {

std::int32_t BlockAttachment::Attach(std::u16string_view name, Mode mode) {
  Release();
  std::string system_name;
  // Block names reach the system as 8-bit text; anything beyond ASCII could
  // name a different block there, so it is refused.
  if (!platform::automation::ToAsciiName(name, system_name)) config::Raise(SystemError::kInvalidName);

  platform::SharedMemory& memory = platform::CurrentSharedMemory();
  memory_ = &memory;
  const platform::OpenResult opened = mode == Mode::kCreateOrOpen
                                          ? memory.CreateOrOpen(system_name, platform::kBlockSize)
                                          : memory.Open(system_name);
  if (opened.handle == 0) config::Raise(opened.status ? opened.status : SystemError::kInvalidFunction);
  m_hMap = opened.handle;

  const platform::MapResult mapped = memory.Map(m_hMap);
  if (mapped.view == nullptr) {
    memory.Close(m_hMap);
    m_hMap = 0;  // closed already: the release must not close it again
    config::Raise(mapped.status ? mapped.status : SystemError::kInvalidFunction);
  }
  m_pView = mapped.view;
  return ErrorNumber(opened.status);
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
