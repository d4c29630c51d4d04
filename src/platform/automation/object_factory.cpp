#include "platform/automation/object_factory.h"

#include <algorithm>

namespace dovel::platform::automation {

bool ClassTable::CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return lower(x) < lower(y); });
}

std::error_code ClassTable::CreateObject(std::string_view prog_id, ObjectRef& object) {
  Creator creator;
  {
    std::lock_guard lock(mutex_);
    const auto found = creators_.find(prog_id);
    if (found == creators_.end()) return RuntimeError::kCannotCreateObject;
    creator = found->second;
  }
  // The creator runs unlocked: a component may create others while it starts.
  ObjectRef made;
  try {
    made = creator();
  } catch (...) {
    return RuntimeError::kCannotCreateObject;
  }
  if (made == nullptr) return RuntimeError::kCannotCreateObject;
  object = std::move(made);
  return {};
}

void ClassTable::Register(std::string prog_id, Creator creator) {
  std::lock_guard lock(mutex_);
  creators_.insert_or_assign(std::move(prog_id), std::move(creator));
}

void ClassTable::Unregister(std::string_view prog_id) {
  std::lock_guard lock(mutex_);
  if (const auto found = creators_.find(prog_id); found != creators_.end()) creators_.erase(found);
}

ClassTable& ProcessClassTable() {
  static ClassTable table;
  return table;
}

}  // namespace dovel::platform::automation
