#include "tools/demo/conversation.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "dovel/client.h"
#include "dovel/server.h"
#include "platform/child_process/child_process.h"

namespace dovel::demo {
namespace {

constexpr int kHeartbeatMs = 1000;
constexpr int kDiagRefreshMs = 1500;
constexpr int kTimeoutMs = 2500;
constexpr std::int16_t kInactivitySeconds = 2;
constexpr auto kGiveUp = std::chrono::seconds(20);
constexpr int kDispatchSliceMs = 100;
constexpr auto kServerLeaveWait = std::chrono::seconds(15);

struct ServerCloser {
  void operator()(dovel_server* server) const { dovel_server_disconnect(server); }
};
struct ObjectReleaser {
  void operator()(dovel_server_queue* queue) const { dovel_server_queue_release(queue); }
};
struct QueueCloser {
  void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
};

// A refusal of the server's, with what the bus said.
std::string Refusal(dovel_result result) {
  std::string text = dovel_result_text(result);
  if (const std::string detail = dovel_server_last_error(); !detail.empty()) text += " (" + detail + ")";
  return text;
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
  static void OnSignal(void* context, const char* event_name) {
    static_cast<Conversation*>(context)->OnEvent(event_name);
  }
  void OnEvent(const std::string& event);
  bool Arm(dovel_server_timer timer, int milliseconds);
  // Shows the server ending by itself once it holds no object.
  void WatchServerLeave();
  void Unload();

  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::unique_ptr<dovel_server, ServerCloser> server_;
  std::unique_ptr<dovel_server_queue, ObjectReleaser> object_;
  // The client's side of the lists, as any client has it: shared memory.
  std::unique_ptr<dovel_queue, QueueCloser> client_;
  std::set<std::string> seen_;
  bool inactivity_completed_ = false;
  bool done_ = false;
  bool failed_ = false;
};

void Conversation::OnEvent(const std::string& event) {
  seen_.insert(event);
  if (event == "SendData") {
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
  } else if (event == "Heartbeat") {
    const dovel_result posted = dovel_queue_post(client_.get(), "Keep Alive", nullptr, 0, 1, nullptr);
    Say(posted == DOVEL_OK ? "Heartbeat: queued an automatic \"Keep Alive\""
                           : std::string("Heartbeat: could not queue a keep-alive: ") + dovel_result_text(posted));
  } else if (event == "Timeout") {
    Say("Timeout: no answer on the link within " + std::to_string(kTimeoutMs) + " ms");
  } else if (event == "InactiveSession") {
    Say("InactiveSession: only keep-alives for " + std::to_string(kInactivitySeconds) + " s");
    if (const dovel_result completed = dovel_server_queue_inactivity_complete(object_.get()); completed != DOVEL_OK) {
      Say("InactivityComplete refused: " + Refusal(completed));
      failed_ = true;
      return;
    }
    inactivity_completed_ = true;
    Say("InactivityComplete: watching again");
  } else if (event == "DiagRefresh") {
    std::size_t queued = 0;
    dovel_result read = dovel_queue_length(client_.get(), &queued);
    // The walk takes no lock, and the server moves messages meanwhile: a
    // walk that met a move reads again.
    for (int again = 0; again < 3 && read == DOVEL_BROKEN_CHAIN; ++again) {
      read = dovel_queue_length(client_.get(), &queued);
    }
    Say(read == DOVEL_OK ? "DiagRefresh: " + std::to_string(queued) + " message(s) waiting"
                         : std::string("DiagRefresh: the work queue cannot be read: ") + dovel_result_text(read));
    if (inactivity_completed_) Unload();
  }
}

void Conversation::Unload() {
  if (const dovel_result unloaded = dovel_server_queue_unload(object_.get()); unloaded != DOVEL_OK) {
    Say("UnloadQueue refused: " + Refusal(unloaded));
    failed_ = true;
    return;
  }
  Say("UnloadQueue: engine stopped");
  done_ = true;
}

void Conversation::WatchServerLeave() {
  const auto give_up = std::chrono::steady_clock::now() + kServerLeaveWait;
  int running = 1;
  while (dovel_server_is_running(server_.get(), &running) == DOVEL_OK && running != 0 &&
         std::chrono::steady_clock::now() < give_up) {
    dovel_server_dispatch(server_.get(), kDispatchSliceMs);
  }
  Say(running == 0 ? "dovel-server has exited by itself: it held no queue object any more"
                   : "dovel-server still runs; it exits by itself once it has been idle a while");
}

bool Conversation::Arm(dovel_server_timer timer, int milliseconds) {
  dovel_result result = dovel_server_timer_set_interval(object_.get(), timer, milliseconds);
  if (result == DOVEL_OK) result = dovel_server_timer_set_enabled(object_.get(), timer, 1);
  if (result != DOVEL_OK) std::cerr << "cannot set a timer: " << Refusal(result) << "\n";
  return result == DOVEL_OK;
}

int Conversation::Run() {
  dovel_server* server = nullptr;
  if (const dovel_result connected = dovel_server_connect(&server); connected != DOVEL_OK) {
    std::cerr << "cannot reach the session bus: " << Refusal(connected) << "\n";
    return 1;
  }
  server_.reset(server);
  // The bus starts dovel-server for the first queue object asked of it.
  dovel_server_queue* object = nullptr;
  if (const dovel_result created = dovel_server_create_queue(server, &object); created != DOVEL_OK) {
    std::cerr << "the server gave no queue object: " << Refusal(created) << "\n";
    return 1;
  }
  object_.reset(object);
  char work[DOVEL_ID_BUFFER], current[DOVEL_ID_BUFFER], last[DOVEL_ID_BUFFER];
  dovel_server_queue_list_id(object, DOVEL_WORK_QUEUE, work);
  dovel_server_queue_list_id(object, DOVEL_CURRENT, current);
  dovel_server_queue_list_id(object, DOVEL_LAST_SENT, last);
  std::int32_t worker_ms = 0;
  int worker_on = 0;
  if (const dovel_result read = dovel_server_timer_get(object, DOVEL_TIMER_WORKER, &worker_ms, &worker_on);
      read != DOVEL_OK || worker_on == 0) {
    std::cerr << "the queue did not start; see the server's error log\n";
    return 1;
  }
  Say("queue started by dovel-server at " + std::string(dovel_server_queue_path(object)) + ", worker polling every " +
      std::to_string(worker_ms) + " ms");
  Say("work queue    " + std::string(work));
  Say("current       " + std::string(current));
  Say("last sent     " + std::string(last));

  dovel_queue* client = nullptr;
  if (const dovel_result opened = dovel_queue_open(work, current, last, &client); opened != DOVEL_OK) {
    std::cerr << "cannot open the queue's lists: " << dovel_result_text(opened) << "\n";
    return 1;
  }
  client_.reset(client);
  dovel_server_queue_on_event(object, &Conversation::OnSignal, this);
  if (const dovel_result set = dovel_server_queue_set_inactivity_timeout(object, kInactivitySeconds); set != DOVEL_OK) {
    std::cerr << "cannot set the inactivity time-out: " << Refusal(set) << "\n";
    return 1;
  }
  if (!Arm(DOVEL_TIMER_HEARTBEAT, kHeartbeatMs) || !Arm(DOVEL_TIMER_DIAG_REFRESH, kDiagRefreshMs) ||
      !Arm(DOVEL_TIMER_TIMEOUT, kTimeoutMs)) {
    return 1;
  }

  platform::ChildProcess poster({platform::CurrentExecutablePath(), "--poster", work, current, last});
  for (int i = 0; i < 3; ++i) Say("second process: " + poster.ReadLine());

  // The events arrive as signals; this thread waits for them and runs
  // OnEvent for each, until the conversation is over.
  const auto give_up = std::chrono::steady_clock::now() + kGiveUp;
  while (!done_ && !failed_ && std::chrono::steady_clock::now() < give_up) {
    if (const dovel_result dispatched = dovel_server_dispatch(server, kDispatchSliceMs);
        dispatched != DOVEL_OK && dispatched != DOVEL_EMPTY) {
      std::cerr << "the bus connection failed: " << Refusal(dispatched) << "\n";
      return 1;
    }
  }

  poster.Wait();
  client_.reset();
  const dovel_result released = dovel_server_queue_release(object_.release());
  if (released == DOVEL_OK) {
    Say("Release: the queue object is gone");
    WatchServerLeave();
  }
  server_.reset();
  if (failed_ || released != DOVEL_OK) {
    if (released != DOVEL_OK) std::cerr << "the server refused the release: " << Refusal(released) << "\n";
    return 1;
  }
  if (!done_) {
    std::cerr << "the conversation did not finish within " << kGiveUp.count() << " s\n";
    return 1;
  }
  Say("all five events seen: " + std::string(seen_.size() == 5 ? "yes" : "no"));
  return seen_.size() == 5 ? 0 : 1;
}

}  // namespace

int RunConversation() { return Conversation().Run(); }

}  // namespace dovel::demo
