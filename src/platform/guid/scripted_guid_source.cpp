#include "platform/guid/scripted_guid_source.h"

namespace dovel::platform {

std::error_code ScriptedGuidSource::CreateGuid(Guid& guid) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (!failures_.empty()) {
    const std::error_code status = failures_.front();
    failures_.pop_front();
    return status;
  }
  // Distinct identifiers in call order, so tests can tell lists apart.
  guid = Guid{0xABCD0000u + next_, 0xBEEF, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(next_)}};
  ++next_;
  return {};
}

void ScriptedGuidSource::FailNext(int count, std::error_code status) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) failures_.push_back(status);
}

int ScriptedGuidSource::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace dovel::platform
