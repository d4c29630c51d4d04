// queue_host COUNT: a queue object for consumers of the installed client
// library. Prints the work queue, current and last-sent identifiers on one
// line, then, each time the queue raises SendData, takes the message through
// the client library and prints "sent NAME DATA". Exits 0 after COUNT
// messages, 1 on a failure or when they have not all come within the
// deadline (a guard against a hung run, not a measure of speed).
#include <dovel/client.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "com/cls_msg_queue.h"
#include "errorlog/error_log_object.h"
#include "platform/automation/object_factory.h"
#include "platform/automation/text.h"
#include "platform/loop/message_loop.h"
#include "platform/shared_memory/shared_memory.h"

namespace {

using dovel::platform::automation::ToUtf8;

constexpr int kDeadlineMs = 60'000;

struct QueueCloser {
  void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
};
struct MessageFreer {
  void operator()(dovel_message* message) const { dovel_message_free(message); }
};

class Host {
 public:
  explicit Host(int expected) : expected_(expected) {}
  int Run();

 private:
  void OnSendData();
  void Fail(const std::string& what) {
    std::cerr << "queue_host: " << what << '\n';
    failed_ = true;
  }

  const int expected_;
  int sent_ = 0;
  bool failed_ = false;
  std::unique_ptr<dovel_queue, QueueCloser> taker_;
};

void Host::OnSendData() {
  char id[DOVEL_ID_BUFFER];
  dovel_result result = dovel_queue_take(taker_.get(), id);
  if (result == DOVEL_EMPTY) return;
  if (result != DOVEL_OK) return Fail(std::string("take: ") + dovel_result_text(result));
  dovel_message* read = nullptr;
  result = dovel_message_read(id, &read);
  if (result != DOVEL_OK) return Fail(std::string("read: ") + dovel_result_text(result));
  const std::unique_ptr<dovel_message, MessageFreer> message(read);
  std::size_t size = 0;
  const std::uint8_t* data = dovel_message_data(message.get(), &size);
  std::printf("sent %s %.*s\n", dovel_message_name(message.get()), static_cast<int>(size),
              reinterpret_cast<const char*>(data));
  std::fflush(stdout);
  ++sent_;
}

int Host::Run() {
  dovel::platform::SweepStaleBlocks();
  dovel::errorlog::RegisterErrorLogSubstitute(dovel::platform::automation::ProcessClassTable());
  dovel::platform::MessageLoop& loop = dovel::platform::CurrentMessageLoop();

  const auto queue = dovel::com::clsMsgQueue::New();
  std::u16string work, current, last;
  std::shared_ptr<dovel::platform::Timer> worker;
  if (queue->get_WorkQueueGUID(work) || queue->get_CurrentMsgGUID(current) || queue->get_LastSentMsgGUID(last) ||
      queue->get_WorkerTimer(worker) || work.empty() || worker == nullptr || !worker->Enabled()) {
    std::cerr << "queue_host: the queue did not start; see the error log\n";
    (void)queue->UnloadQueue();
    return 1;
  }
  dovel_queue* taker = nullptr;
  const dovel_result opened = dovel_queue_open(nullptr, ToUtf8(current).c_str(), ToUtf8(last).c_str(), &taker);
  if (opened != DOVEL_OK) {
    std::cerr << "queue_host: open: " << dovel_result_text(opened) << '\n';
    (void)queue->UnloadQueue();
    return 1;
  }
  taker_.reset(taker);

  std::uint32_t cookie = 0;
  (void)queue->Advise(
      [this](dovel::com::QueueEvent event) {
        if (event == dovel::com::QueueEvent::SendData) OnSendData();
      },
      cookie);
  std::printf("%s %s %s\n", ToUtf8(work).c_str(), ToUtf8(current).c_str(), ToUtf8(last).c_str());
  std::fflush(stdout);

  bool gave_up = false;
  const auto deadline = loop.CreateTimer([&] { gave_up = true; });
  deadline->SetInterval(kDeadlineMs);
  deadline->SetEnabled(true);
  loop.RunUntil([&] { return sent_ >= expected_ || failed_ || gave_up; });

  (void)queue->Unadvise(cookie);
  (void)queue->UnloadQueue();
  taker_.reset();
  if (gave_up) std::cerr << "queue_host: " << sent_ << " of " << expected_ << " messages within the deadline\n";
  return sent_ >= expected_ && !failed_ ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int expected = argc == 2 ? std::atoi(argv[1]) : 0;
  if (expected <= 0) {
    std::cerr << "usage: queue_host COUNT\n";
    return 64;
  }
  return Host(expected).Run();
}
