#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/guid/guid_source.h"

namespace dovel::platform {

// A GUID source for tests: hands out a counting sequence of identifiers, and
// can be told to fail its next calls with a given status.
class ScriptedGuidSource final : public GuidSource {
 public:
  [[nodiscard]] std::error_code CreateGuid(Guid& guid) override;

  // The next `count` calls fail with `status` (E_FAIL unless told).
  void FailNext(int count, std::error_code status = HResultStatus(static_cast<std::int32_t>(0x80004005u)));
  int calls() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::error_code> failures_;
  std::uint32_t next_ = 1;
  int calls_ = 0;
};

}  // namespace dovel::platform
