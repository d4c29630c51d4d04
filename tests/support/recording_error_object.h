#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/dispatch.h"

namespace dovel::testing {

// An error-logging object that records every late-bound call it receives,
// with its arguments as they arrived (a by-reference level is recorded
// together with the value it pointed at during the call).
class RecordingErrorObject final : public platform::automation::Dispatch {
 public:
  struct Received {
    std::u16string member;  // "Add", "AddlText=", "LogError", ...
    std::vector<platform::automation::Variant> args;
    std::int16_t level_seen_by_reference = 0;
  };

  [[nodiscard]] std::error_code PutProperty(std::u16string_view name,
                                            const platform::automation::Variant& value) override;
  [[nodiscard]] std::error_code GetProperty(std::u16string_view name, platform::automation::Variant& result) override;
  [[nodiscard]] std::error_code Call(std::u16string_view name, std::span<platform::automation::Variant> args,
                                     platform::automation::Variant* result) override;

  // Makes the named member (e.g. u"Add" or u"AddlText=") fail with `number`.
  void FailMember(std::u16string member, std::int32_t number) { failing_.push_back({std::move(member), number}); }

  const std::vector<Received>& calls() const { return calls_; }
  // Members in call order, e.g. {"Add", "AddlText=", "LogError", "Clear"}.
  std::vector<std::u16string> Members() const;

  // The Add calls only: one per report.
  std::vector<Received> Reports() const;

 private:
  std::error_code FailureFor(std::u16string_view member) const;

  std::vector<Received> calls_;
  std::vector<std::pair<std::u16string, std::int32_t>> failing_;
};

// Installs a RecordingErrorObject as the calling thread's g_oErrorObject for
// the lifetime of the guard, and empties g_oErrorObject afterwards.
class ScopedRecordingErrorObject {
 public:
  ScopedRecordingErrorObject();
  ~ScopedRecordingErrorObject();
  RecordingErrorObject& operator*() const { return *object_; }
  RecordingErrorObject* operator->() const { return object_.get(); }

 private:
  std::shared_ptr<RecordingErrorObject> object_;
};

}  // namespace dovel::testing
