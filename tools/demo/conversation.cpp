#include "tools/demo/conversation.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <system_error>

#include "com/cls_msg_queue.h"
#include "dovel/client.h"
#include "errorlog/error_log_object.h"
#include "platform/automation/object_factory.h"
#include "platform/automation/text.h"
#include "platform/child_process/child_process.h"
#include "platform/loop/message_loop.h"
#include "platform/process/descriptor_limit.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::demo {
namespace {

using platform::automation::ToUtf8;

constexpr int kHeartbeatMs = 1000;
constexpr int kDiagRefreshMs = 1500;
constexpr int kTimeoutMs = 2500;
constexpr std::int16_t kInactivitySeconds = 2;
constexpr int kGiveUpMs = 20'000;

// The queue object lives on this thread, so its members cannot refuse a
// call; one that does anyway ends the demonstration with its reason.
void Must(std::error_code status) {
  if (status) throw std::system_error(status, "queue object");
}

class Conversation {
 public:
  int Run();

 private:
  void Say(const std::string& what) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("[%6.3f s] %s\n", seconds, what.c_str());
    std::fflush(stdout);
  }
  void OnEvent(com::QueueEvent event);
  static void Arm(const std::shared_ptr<platform::Timer>& timer, int milliseconds) {
    timer->SetInterval(milliseconds);
    timer->SetEnabled(true);
  }

  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  struct QueueCloser {
    void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
  };

  std::shared_ptr<com::clsMsgQueue> queue_;
  // The client's side, as any client has it: through the C library.
  std::unique_ptr<dovel_queue, QueueCloser> client_;
  std::set<com::QueueEvent> seen_;
  bool inactivity_completed_ = false;
  bool done_ = false;
};

void Conversation::OnEvent(com::QueueEvent event) {
  seen_.insert(event);
  switch (event) {
    case com::QueueEvent::SendData: {
      char id[DOVEL_ID_BUFFER];
      dovel_result taken = dovel_queue_take(client_.get(), id);
      dovel_message* message = nullptr;
      if (taken == DOVEL_OK) taken = dovel_message_read(id, &message);
      if (taken != DOVEL_OK) {
        Say(std::string("SendData: could not take the message: ") + dovel_result_text(taken));
      } else {
        Say("SendData: sent \"" + std::string(dovel_message_name(message)) + "\" over the simulated link");
      }
      dovel_message_free(message);
      break;
    }
    case com::QueueEvent::Heartbeat: {
      const dovel_result posted = dovel_queue_post(client_.get(), "Keep Alive", nullptr, 0, 1, nullptr);
      Say(posted == DOVEL_OK ? "Heartbeat: queued an automatic \"Keep Alive\""
                             : std::string("Heartbeat: could not queue a keep-alive: ") + dovel_result_text(posted));
      break;
    }
    case com::QueueEvent::Timeout:
      Say("Timeout: no answer on the link within " + std::to_string(kTimeoutMs) + " ms");
      break;
    case com::QueueEvent::InactiveSession:
      Say("InactiveSession: only keep-alives for " + std::to_string(kInactivitySeconds) + " s");
      Must(queue_->InactivityComplete());
      inactivity_completed_ = true;
      Say("InactivityComplete: watching again");
      break;
    case com::QueueEvent::DiagRefresh: {
      std::size_t queued = 0;
      const dovel_result read = dovel_queue_length(client_.get(), &queued);
      Say(read == DOVEL_OK ? "DiagRefresh: " + std::to_string(queued) + " message(s) waiting"
                           : std::string("DiagRefresh: the work queue cannot be read: ") + dovel_result_text(read));
      if (inactivity_completed_) {
        Must(queue_->UnloadQueue());
        Say("UnloadQueue: engine stopped");
        done_ = true;
      }
      break;
    }
  }
}

int Conversation::Run() {
  // What a server does when it starts: leftovers of crashed processes go,
  // and every block it may hold gets a descriptor.
  platform::SweepStaleBlocks();
  platform::RaiseDescriptorLimit();
  errorlog::RegisterErrorLogSubstitute(platform::automation::ProcessClassTable());
  platform::MessageLoop& loop = platform::CurrentMessageLoop();

  queue_ = com::clsMsgQueue::New();
  std::u16string work, current, last;
  Must(queue_->get_WorkQueueGUID(work));
  Must(queue_->get_CurrentMsgGUID(current));
  Must(queue_->get_LastSentMsgGUID(last));
  std::shared_ptr<platform::Timer> worker;
  Must(queue_->get_WorkerTimer(worker));
  if (work.empty() || worker == nullptr || !worker->Enabled()) {
    std::cerr << "the queue did not start; see the error log\n";
    Must(queue_->UnloadQueue());
    return 1;
  }
  Say("queue started, worker polling every " + std::to_string(worker->Interval()) + " ms");
  Say("work queue    " + ToUtf8(work));
  Say("current       " + ToUtf8(current));
  Say("last sent     " + ToUtf8(last));

  dovel_queue* client = nullptr;
  const dovel_result opened =
      dovel_queue_open(ToUtf8(work).c_str(), ToUtf8(current).c_str(), ToUtf8(last).c_str(), &client);
  if (opened != DOVEL_OK) {
    std::cerr << "cannot open the queue's lists: " << dovel_result_text(opened) << "\n";
    Must(queue_->UnloadQueue());
    return 1;
  }
  client_.reset(client);
  std::uint32_t cookie = 0;
  Must(queue_->Advise([this](com::QueueEvent event) { OnEvent(event); }, cookie));
  Must(queue_->put_InactivityTimeout(kInactivitySeconds));
  std::shared_ptr<platform::Timer> timer;
  Must(queue_->get_HeartbeatTimer(timer));
  Arm(timer, kHeartbeatMs);
  Must(queue_->get_DiagRefreshTimer(timer));
  Arm(timer, kDiagRefreshMs);
  Must(queue_->get_TimeoutTimer(timer));
  Arm(timer, kTimeoutMs);

  platform::ChildProcess poster(
      {platform::CurrentExecutablePath(), "--poster", ToUtf8(work), ToUtf8(current), ToUtf8(last)});
  for (int i = 0; i < 3; ++i) Say("second process: " + poster.ReadLine());

  bool gave_up = false;
  const auto guard = loop.CreateTimer([&] { gave_up = true; });
  guard->SetInterval(kGiveUpMs);
  guard->SetEnabled(true);
  loop.RunUntil([&] { return done_ || gave_up; });

  poster.Wait();
  Must(queue_->Unadvise(cookie));
  Must(queue_->UnloadQueue());
  queue_.reset();
  client_.reset();
  if (gave_up) {
    std::cerr << "the conversation did not finish within " << kGiveUpMs / 1000 << " s\n";
    return 1;
  }
  Say("all five events seen: " + std::string(seen_.size() == 5 ? "yes" : "no"));
  return seen_.size() == 5 ? 0 : 1;
}

}  // namespace

int RunConversation() { return Conversation().Run(); }

}  // namespace dovel::demo
