#pragma once

#include "platform/automation/dispatch.h"

namespace dovel::platform::automation {

// An object with no members at all: every call is "member not found".
class InertObject final : public Dispatch {
 public:
  [[nodiscard]] std::error_code PutProperty(std::u16string_view, const Variant&) override {
    return RuntimeError::kMemberNotFound;
  }
  [[nodiscard]] std::error_code GetProperty(std::u16string_view, Variant&) override {
    return RuntimeError::kMemberNotFound;
  }
  [[nodiscard]] std::error_code Call(std::u16string_view, std::span<Variant>, Variant*) override {
    return RuntimeError::kMemberNotFound;
  }
};

}  // namespace dovel::platform::automation
