#pragma once

#include "platform/automation/dispatch.h"

namespace dovel::platform::automation {

// An object with no members at all: every call is "member not found".
class InertObject final : public Dispatch {
 public:
  std::int32_t PutProperty(std::u16string_view, const Variant&) override { return kErrMemberNotFound; }
  std::int32_t GetProperty(std::u16string_view, Variant&) override { return kErrMemberNotFound; }
  std::int32_t Call(std::u16string_view, std::span<Variant>, Variant*) override { return kErrMemberNotFound; }
};

}  // namespace dovel::platform::automation
