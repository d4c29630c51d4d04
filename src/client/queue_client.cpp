#include "client/queue_client.h"


#include "platform/guid/guid_source.h"
#include "store/list_lock.h"
#include "store/list_walk.h"

namespace dovel::client {

namespace {

// A client may wait longer than the server's tick: nothing else waits on it.
constexpr std::uint32_t kLockTimeoutMs = 1000;

std::u16string NewGuid() {
  platform::Guid guid;
  if (platform::CurrentGuidSource().CreateGuid(guid)) return {};
  char16_t buffer[39] = {};
  platform::StringFromGuid2(guid, buffer, 39);
  return std::u16string(buffer, 38);
}

}  // namespace

QueueClient::QueueClient(std::u16string work_queue, std::u16string current, std::u16string last_sent)
    : work_queue_guid_(std::move(work_queue)),
      current_guid_(std::move(current)),
      last_sent_guid_(std::move(last_sent)) {
  ok_ = work_queue_->Load(work_queue_guid_) == 0 && current_->Load(current_guid_) == 0 &&
        last_sent_->Load(last_sent_guid_) == 0;
}

std::u16string QueueClient::Post(std::u16string_view name, bool automatic, std::vector<std::uint8_t> data) {
  const std::u16string guid = NewGuid();
  auto message = std::make_shared<store::clsMessage>();
  if (guid.empty() || message->Create(guid) != 0) return {};
  try {
    message->Name(name);
    message->Auto(automatic);
    if (!data.empty()) message->Data(platform::automation::ByteArray{0, std::move(data)});
    message->HeadGUID(work_queue_guid_);
    message->NextMsgGUID(work_queue_guid_);
    // The server takes this lock while it moves the head message away.
    const store::ListLock lock(*work_queue_, kLockTimeoutMs);
    if (!lock.held()) return {};
    const store::ListWalk queued = store::WalkList(*work_queue_);
    if (queued.error) return {};
    if (queued.messages.empty()) {
      work_queue_->FirstMsgGUID(guid);
    } else {
      store::clsMessage last;
      if (last.Load(queued.messages.back()) != 0) return {};
      last.NextMsgGUID(guid);
    }
  } catch (...) {
    return {};
  }
  held_.push_back(std::move(message));
  return guid;
}

std::u16string QueueClient::TakeCurrent() {
  try {
    const std::shared_ptr<store::clsMessage> message = current_->FirstMsg();
    if (message == nullptr) return {};
    const std::u16string name = message->Name();
    const std::u16string guid = message->szGUID();
    current_->FirstMsgGUID(current_guid_);
    MarkLastSent(guid);
    return name;
  } catch (...) {
    return {};
  }
}

bool QueueClient::MarkLastSent(const std::u16string& guid) {
  try {
    auto message = std::make_shared<store::clsMessage>();
    if (message->Load(guid) != 0) return false;
    message->HeadGUID(last_sent_guid_);
    message->NextMsgGUID(last_sent_guid_);
    last_sent_->FirstMsgGUID(guid);
    // Whatever is neither queued nor current is no longer in any list.
    std::erase_if(held_, [&](const auto& m) {
      const std::u16string head = m->HeadGUID();
      return head != work_queue_guid_ && head != current_guid_;
    });
    held_.push_back(std::move(message));
    return true;
  } catch (...) {
    return false;
  }
}

std::size_t QueueClient::Queued() const { return store::WalkList(*work_queue_).messages.size(); }

}  // namespace dovel::client
