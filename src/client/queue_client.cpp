#include "client/queue_client.h"

#include <set>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "platform/guid/guid_source.h"
#include "store/list_lock.h"
#include "store/list_walk.h"

namespace dovel::client {

namespace {

// A client may wait longer than the server's tick: nothing else waits on it.
constexpr std::uint32_t kLockTimeoutMs = 1000;

store::Identifier NewGuid() {
  platform::Guid guid;
  if (const std::error_code failed = platform::CurrentGuidSource().CreateGuid(guid)) config::Raise(failed);
  return store::Identifier::From(guid);
}

// Opens the list `text` names, or leaves it out when `text` is empty.
[[nodiscard]] std::error_code Open(std::u16string_view text, store::Identifier& id,
                                   std::unique_ptr<store::clsMessages>& list) {
  if (text.empty()) return {};
  if (const std::error_code refused = store::Identifier::Parse(text, id)) return refused;
  list = std::make_unique<store::clsMessages>();
  return list->Load(id);
}

// Whether some list still has `message` first: the current list until the
// client takes it, the last-sent list until another message replaces it.
bool StillFirstOfItsList(const store::clsMessage& message) {
  store::Identifier head;
  if (store::Identifier::Parse(message.HeadGUID(), head)) return false;
  store::clsMessages list;
  if (list.Load(head)) return false;
  return list.FirstMsgGUID() == message.MessageId().view();
}

}  // namespace

QueueClient::QueueClient(std::u16string_view work_queue, std::u16string_view current, std::u16string_view last_sent) {
  status_ = Open(work_queue, work_queue_guid_, work_queue_);
  if (!status_) status_ = Open(current, current_guid_, current_);
  if (!status_) status_ = Open(last_sent, last_sent_guid_, last_sent_);
}

std::error_code QueueClient::Needs(const std::unique_ptr<store::clsMessages>& list) const {
  if (status_) return status_;
  return list == nullptr ? std::error_code(SystemError::kInvalidParameter) : std::error_code();
}

Result<store::Identifier> QueueClient::Post(std::u16string_view name, bool automatic, std::vector<std::uint8_t> data) {
  if (const std::error_code unusable = Needs(work_queue_)) return {{}, unusable};
  try {
    ReleaseDelivered();
    const store::Identifier guid = NewGuid();
    auto message = std::make_shared<store::clsMessage>();
    // An existing block is some other message's: posting into it would
    // overwrite that one.
    if (const std::error_code created = message->Create(guid)) return {{}, created};
    message->Name(name);
    message->Auto(automatic);
    if (!data.empty()) message->Data(platform::automation::ByteArray{0, std::move(data)});
    message->HeadGUID(work_queue_guid_);
    message->NextMsgGUID(work_queue_guid_);
    // The server takes this lock while it moves the head message away.
    const store::ListLock lock(*work_queue_, kLockTimeoutMs);
    if (!lock.held()) return {{}, lock.status()};
    if (const std::error_code unlinked = Append(guid)) return {{}, unlinked};
    tail_hint_ = message;
    posted_.push_back(std::move(message));
    return {guid, {}};
  } catch (...) {
    return {{}, config::TrappedError()};
  }
}

std::error_code QueueClient::Append(const store::Identifier& guid) {
  if (work_queue_->LooksEmpty()) {
    work_queue_->FirstMsgGUID(guid);
    return {};
  }
  // Under the lock nothing relinks the tail behind our back, so a message
  // that still names the work queue as both its head and its next link is
  // the last one, provided it is still on the chain: the engine empties the
  // queue when it meets a dead link at its head, and the messages it cut
  // off keep both links. While the queue starts with one of ours, our
  // latest has been linked since the last such cut.
  if (tail_hint_ != nullptr && work_queue_guid_ == tail_hint_->HeadGUID() &&
      work_queue_guid_ == tail_hint_->NextMsgGUID() && StartsWithOurs()) {
    tail_hint_->NextMsgGUID(guid);
    return {};
  }
  const store::ListWalk queued = store::WalkList(*work_queue_);
  if (queued.error) return queued.error;
  if (queued.messages.empty()) {
    work_queue_->FirstMsgGUID(guid);
    return {};
  }
  ReleaseCutOff(queued.messages);
  store::clsMessage last;
  if (const std::error_code loaded = last.Load(store::Identifier::From(queued.messages.back()))) return loaded;
  last.NextMsgGUID(guid);
  return {};
}

bool QueueClient::StartsWithOurs() const {
  for (const auto& message : posted_) {
    if (work_queue_guid_ == message->HeadGUID()) return work_queue_->FirstMsgGUID() == message->MessageId().view();
  }
  return false;
}

void QueueClient::ReleaseCutOff(const std::vector<std::u16string>& chain) {
  const std::set<std::u16string> linked(chain.begin(), chain.end());
  std::erase_if(posted_, [&](const std::shared_ptr<store::clsMessage>& message) {
    return work_queue_guid_ == message->HeadGUID() && !linked.contains(message->MessageId().str());
  });
}

void QueueClient::ReleaseDelivered() {
  // The server hands messages over in order, so everything behind the
  // first one still queued is queued too: only the front is looked at.
  for (auto it = posted_.begin(); it != posted_.end() && work_queue_guid_ != (*it)->HeadGUID();) {
    it = StillFirstOfItsList(**it) ? std::next(it) : posted_.erase(it);
  }
  if (tail_hint_ != nullptr && work_queue_guid_ != tail_hint_->HeadGUID()) tail_hint_.reset();
}

QueueClient::Taken QueueClient::TakeMessage() {
  if (const std::error_code unusable = Needs(current_)) return {nullptr, unusable};
  if (const std::error_code unusable = Needs(last_sent_)) return {nullptr, unusable};
  std::error_code failure;
  std::shared_ptr<store::clsMessage> message = current_->FirstMsg(failure);
  if (message == nullptr) return {nullptr, failure};
  current_->FirstMsgGUID(current_guid_);
  message->HeadGUID(last_sent_guid_);
  message->NextMsgGUID(last_sent_guid_);
  last_sent_->FirstMsgGUID(message->MessageId());
  last_sent_message_ = message;
  ReleaseDelivered();
  return {std::move(message), {}};
}

Result<store::Identifier> QueueClient::Take() {
  try {
    Taken taken = TakeMessage();
    if (taken.message == nullptr) return {{}, taken.error};
    return {taken.message->MessageId(), taken.error};
  } catch (...) {
    return {{}, config::TrappedError()};
  }
}

Result<std::u16string> QueueClient::TakeCurrent() {
  try {
    Taken taken = TakeMessage();
    if (taken.message == nullptr) return {{}, taken.error};
    return {taken.message->Name(), taken.error};
  } catch (...) {
    return {{}, config::TrappedError()};
  }
}

std::error_code QueueClient::MarkLastSent(const store::Identifier& guid) {
  if (const std::error_code unusable = Needs(last_sent_)) return unusable;
  try {
    auto message = std::make_shared<store::clsMessage>();
    if (const std::error_code loaded = message->Load(guid)) return loaded;
    message->HeadGUID(last_sent_guid_);
    message->NextMsgGUID(last_sent_guid_);
    last_sent_->FirstMsgGUID(guid);
    last_sent_message_ = std::move(message);
    ReleaseDelivered();
    return {};
  } catch (...) {
    return config::TrappedError();
  }
}

Result<std::size_t> QueueClient::Queued() const {
  if (const std::error_code unusable = Needs(work_queue_)) return {0, unusable};
  // Under the lock, so a dispatch in another process cannot look like a
  // broken chain halfway through the walk.
  const store::ListLock lock(*work_queue_, kLockTimeoutMs);
  if (!lock.held()) return {0, lock.status()};
  store::ListWalk walk = store::WalkList(*work_queue_);
  return {walk.messages.size(), walk.error};
}

Result<std::size_t> QueueClient::Waiting() const {
  if (status_) return {0, status_};
  try {
    std::size_t waiting = 0;
    for (const auto& message : posted_) {
      const std::u16string head = message->HeadGUID();
      if (work_queue_guid_ == head || (current_ != nullptr && current_guid_ == head)) ++waiting;
    }
    return {waiting, {}};
  } catch (...) {
    return {0, config::TrappedError()};
  }
}

}  // namespace dovel::client
