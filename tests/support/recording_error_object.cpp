#include "support/recording_error_object.h"

#include "config/mod_globals.h"

namespace dovel::testing {

namespace automation = platform::automation;

std::error_code RecordingErrorObject::FailureFor(std::u16string_view member) const {
  for (const auto& [name, number] : failing_) {
    if (name == member) return RuntimeStatus(number);
  }
  return {};
}

std::error_code RecordingErrorObject::PutProperty(std::u16string_view name, const automation::Variant& value) {
  std::u16string member = std::u16string(name) + u"=";
  calls_.push_back({member, {value}, 0});
  return FailureFor(member);
}

std::error_code RecordingErrorObject::GetProperty(std::u16string_view, automation::Variant&) {
  return RuntimeError::kMemberNotFound;
}

std::error_code RecordingErrorObject::Call(std::u16string_view name, std::span<automation::Variant> args,
                                           automation::Variant*) {
  Received call{std::u16string(name), std::vector<automation::Variant>(args.begin(), args.end()), 0};
  for (const auto& arg : args) {
    if (arg.Is<automation::Int16Ref>() && arg.As<automation::Int16Ref>().target != nullptr) {
      call.level_seen_by_reference = *arg.As<automation::Int16Ref>().target;
    }
  }
  calls_.push_back(std::move(call));
  return FailureFor(name);
}

std::vector<std::u16string> RecordingErrorObject::Members() const {
  std::vector<std::u16string> members;
  for (const auto& call : calls_) members.push_back(call.member);
  return members;
}

std::vector<RecordingErrorObject::Received> RecordingErrorObject::Reports() const {
  std::vector<Received> adds;
  for (const auto& call : calls_) {
    if (call.member == u"Add") adds.push_back(call);
  }
  return adds;
}

ScopedRecordingErrorObject::ScopedRecordingErrorObject() : object_(std::make_shared<RecordingErrorObject>()) {
  g_oErrorObject = object_;
}

ScopedRecordingErrorObject::~ScopedRecordingErrorObject() { g_oErrorObject.reset(); }

}  // namespace dovel::testing
