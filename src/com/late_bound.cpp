#include "com/late_bound.h"

#include "platform/automation/conversions.h"

namespace dovel::com {

namespace automation = platform::automation;

namespace {

const MemberId* Find(std::u16string_view name, MemberKind kind) {
  for (const MemberId& member : kMembers) {
    if (member.kind == kind && member.name == name) return &member;
  }
  return nullptr;
}

// An automation Boolean: any number other than 0 is True.
std::error_code ToFlag(const automation::Variant& value, bool& flag) {
  if (value.Is<bool>()) {
    flag = value.As<bool>();
    return {};
  }
  std::int16_t number = 0;
  if (const std::error_code error = automation::ToInt16(value, number)) return error;
  flag = number != 0;
  return {};
}

}  // namespace

std::u16string_view QueueDispatch::NameOf(std::int32_t dispid) {
  for (const MemberId& member : kMembers) {
    if (member.dispid == dispid) return member.name;
  }
  return {};
}

std::error_code QueueDispatch::PutProperty(std::u16string_view name, const automation::Variant& value) {
  const MemberId* member = Find(name, MemberKind::kPropertyPut);
  if (member == nullptr) return RuntimeError::kMemberNotFound;
  if (name == u"InactivityTimeout") {
    std::int16_t seconds = 0;
    if (const std::error_code error = automation::ToInt16(value, seconds)) return error;
    return queue_->put_InactivityTimeout(seconds);
  }
  bool flag = false;
  if (const std::error_code error = ToFlag(value, flag)) return error;
  if (name == u"Disconnecting") return queue_->put_Disconnecting(flag);
  if (name == u"PanelEventWarning") return queue_->put_PanelEventWarning(flag);
  return queue_->put_Unattended(flag);
}

std::error_code QueueDispatch::GetProperty(std::u16string_view name, automation::Variant& result) {
  if (Find(name, MemberKind::kPropertyGet) == nullptr) return RuntimeError::kMemberNotFound;
  if (name.ends_with(u"GUID")) {
    std::u16string guid;
    const std::error_code status = name == u"WorkQueueGUID"    ? queue_->get_WorkQueueGUID(guid)
                                   : name == u"CurrentMsgGUID" ? queue_->get_CurrentMsgGUID(guid)
                                                               : queue_->get_LastSentMsgGUID(guid);
    result = std::move(guid);
    return status;
  }
  std::shared_ptr<platform::Timer> timer;
  const std::error_code status = name == u"WorkerTimer"      ? queue_->get_WorkerTimer(timer)
                                 : name == u"TimeoutTimer"   ? queue_->get_TimeoutTimer(timer)
                                 : name == u"HeartbeatTimer" ? queue_->get_HeartbeatTimer(timer)
                                                             : queue_->get_DiagRefreshTimer(timer);
  result = timer == nullptr ? automation::ObjectRef() : std::make_shared<TimerDispatch>(timer);
  return status;
}

std::error_code QueueDispatch::Call(std::u16string_view name, std::span<automation::Variant> args,
                                    automation::Variant*) {
  if (Find(name, MemberKind::kMethod) == nullptr) return RuntimeError::kMemberNotFound;
  if (!args.empty()) return RuntimeError::kWrongArgumentCount;
  return name == u"UnloadQueue" ? queue_->UnloadQueue() : queue_->InactivityComplete();
}

std::error_code TimerDispatch::PutProperty(std::u16string_view name, const automation::Variant& value) {
  if (name == u"Enabled") {
    bool flag = false;
    if (const std::error_code error = ToFlag(value, flag)) return error;
    timer_->SetEnabled(flag);
    return {};
  }
  if (name == u"Interval") {
    std::int32_t milliseconds = 0;
    if (const std::error_code error = automation::ToInt32(value, milliseconds)) return error;
    timer_->SetInterval(milliseconds);
    return {};
  }
  return RuntimeError::kMemberNotFound;
}

std::error_code TimerDispatch::GetProperty(std::u16string_view name, automation::Variant& result) {
  if (name == u"Enabled") {
    result = timer_->Enabled();
    return {};
  }
  if (name == u"Interval") {
    result = timer_->Interval();
    return {};
  }
  return RuntimeError::kMemberNotFound;
}

std::error_code TimerDispatch::Call(std::u16string_view, std::span<automation::Variant>, automation::Variant*) {
  return RuntimeError::kMemberNotFound;
}

}  // namespace dovel::com
