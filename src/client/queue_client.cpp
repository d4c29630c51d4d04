#include "client/queue_client.h"

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

[[nodiscard]] std::error_code Open(std::u16string_view text, store::Identifier& id, store::clsMessages& list) {
  if (const std::error_code refused = store::Identifier::Parse(text, id)) return refused;
  return list.Load(id);
}

}  // namespace

QueueClient::QueueClient(std::u16string_view work_queue, std::u16string_view current, std::u16string_view last_sent) {
  status_ = Open(work_queue, work_queue_guid_, *work_queue_);
  if (!status_) status_ = Open(current, current_guid_, *current_);
  if (!status_) status_ = Open(last_sent, last_sent_guid_, *last_sent_);
}

Result<store::Identifier> QueueClient::Post(std::u16string_view name, bool automatic, std::vector<std::uint8_t> data) {
  if (status_) return {{}, status_};
  try {
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
    const store::ListWalk queued = store::WalkList(*work_queue_);
    if (queued.error) return {{}, queued.error};
    if (queued.messages.empty()) {
      work_queue_->FirstMsgGUID(guid);
    } else {
      store::clsMessage last;
      if (const std::error_code loaded = last.Load(store::Identifier::From(queued.messages.back()))) {
        return {{}, loaded};
      }
      last.NextMsgGUID(guid);
    }
    held_.push_back(std::move(message));
    return {guid, {}};
  } catch (...) {
    return {{}, config::TrappedError()};
  }
}

Result<std::u16string> QueueClient::TakeCurrent() {
  if (status_) return {{}, status_};
  try {
    std::error_code failure;
    const std::shared_ptr<store::clsMessage> message = current_->FirstMsg(failure);
    if (message == nullptr) return {{}, failure};
    std::u16string name = message->Name();
    current_->FirstMsgGUID(current_guid_);
    const std::error_code marked = MarkLastSent(message->MessageId());
    return {std::move(name), marked};
  } catch (...) {
    return {{}, config::TrappedError()};
  }
}

std::error_code QueueClient::MarkLastSent(const store::Identifier& guid) {
  if (status_) return status_;
  try {
    auto message = std::make_shared<store::clsMessage>();
    if (const std::error_code loaded = message->Load(guid)) return loaded;
    message->HeadGUID(last_sent_guid_);
    message->NextMsgGUID(last_sent_guid_);
    last_sent_->FirstMsgGUID(guid);
    // Whatever is neither queued nor current is no longer in any list.
    std::erase_if(held_, [&](const auto& m) {
      const std::u16string head = m->HeadGUID();
      return work_queue_guid_ != head && current_guid_ != head;
    });
    held_.push_back(std::move(message));
    return {};
  } catch (...) {
    return config::TrappedError();
  }
}

Result<std::size_t> QueueClient::Queued() const {
  if (status_) return {0, status_};
  store::ListWalk walk = store::WalkList(*work_queue_);
  return {walk.messages.size(), walk.error};
}

}  // namespace dovel::client
