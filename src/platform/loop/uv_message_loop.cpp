#include "platform/loop/uv_message_loop.h"

#include <uv.h>

#include <utility>

#include "platform/loop/loop_parts.h"
#include "platform/loop/uv_timer.h"

namespace dovel::platform {

UvMessageLoop::UvMessageLoop()
    : posted_signal_(OpenUvAsync(*loop_.get(), &UvMessageLoop::OnPosted)),
      timers_(std::make_shared<UvTimerQueue>(*loop_.get(), static_cast<UvTimerQueue::Runner&>(*this))),
      owner_(std::this_thread::get_id()) {
  posted_signal_->data = this;
  // libuv adds descriptors to its backend only when it next polls, so a host
  // polling the backend before the loop has turned would wait on an empty
  // set, deaf even to posted work. One turn now does the registration; with
  // no run in progress it runs nothing.
  Turn(false);
}

UvMessageLoop::~UvMessageLoop() {
  // Timers that outlive the loop keep the queue, closed. The members' owners
  // then close the async handle and, last, the loop.
  timers_->Close();
}

std::unique_ptr<Timer> UvMessageLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<UvTimer>(timers_, std::move(on_tick));
}

void UvMessageLoop::Turn(bool wait_for_work) {
  // What uv_run returns says whether handles are still active, which the
  // async handle always is: not a failure, and nothing to act on.
  static_cast<void>(uv_run(loop_.get(), wait_for_work ? UV_RUN_ONCE : UV_RUN_NOWAIT));
}

void UvMessageLoop::Run() { RunUntil(nullptr); }

void UvMessageLoop::RunUntil(const std::function<bool()>& done) {
  if (mode_ != Mode::kIdle) return;
  if (done && done()) return;
  mode_ = Mode::kRunning;
  done_ = done ? &done : nullptr;
  timers_->WakeIfDue();
  // The async handle keeps the loop alive, so each turn blocks until there is
  // something to do.
  while (!halted_) Turn(true);
  FinishRun();
}

void UvMessageLoop::RunDue() {
  if (mode_ != Mode::kIdle) return;
  mode_ = Mode::kRunningDue;
  timers_->WakeIfDue();
  Turn(false);
  FinishRun();
}

void UvMessageLoop::FinishRun() {
  mode_ = Mode::kIdle;
  done_ = nullptr;
  halted_ = false;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void UvMessageLoop::Stop() {
  if (mode_ == Mode::kRunning) Halt();
}

void UvMessageLoop::Halt() {
  halted_ = true;
  // Also makes libuv skip blocking in the poll of the turn in progress.
  uv_stop(loop_.get());
}

void UvMessageLoop::RunWork(const std::function<void()>& work) {
  if (!RunKeepingFailure(work, done_, failure_)) Halt();
}

int UvMessageLoop::PollDescriptor() { return uv_backend_fd(loop_.get()); }

int UvMessageLoop::TimeUntilDue() const { return timers_->TimeUntilDue(); }

void UvMessageLoop::Post(std::function<void()> work) {
  if (!work) return;
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
  }
  ExpectUvSuccess(uv_async_send(posted_signal_.get()), "uv_async_send");
}

void UvMessageLoop::OnPosted(uv_async_t* signal) { static_cast<UvMessageLoop*>(signal->data)->RunPostedWork(); }

void UvMessageLoop::RunPostedWork() {
  // Only the work queued when the signal arrived: work that keeps posting
  // more must not starve the timers. Anything posted meanwhile has signalled
  // again and runs on the next turn.
  std::size_t batch = 0;
  {
    std::lock_guard lock(posted_mutex_);
    batch = posted_.size();
  }
  for (; batch > 0; --batch) {
    std::function<void()> work;
    {
      std::lock_guard lock(posted_mutex_);
      if (posted_.empty()) return;
      if (MayRunWork()) {
        work = std::move(posted_.front());
        posted_.pop_front();
      }
    }
    if (!work) {
      // The run is returning, or there is none; signal again so the next run
      // finds the rest.
      ExpectUvSuccess(uv_async_send(posted_signal_.get()), "uv_async_send");
      return;
    }
    RunWork(work);
  }
}

bool UvMessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

template <>
MessageLoop& SystemDefault<MessageLoop>() {
  thread_local UvMessageLoop loop;
  return loop;
}

}  // namespace dovel::platform
