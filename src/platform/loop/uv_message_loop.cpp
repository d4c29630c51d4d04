#include "platform/loop/uv_message_loop.h"

#include <sys/timerfd.h>
#include <unistd.h>
#include <uv.h>

#include <system_error>
#include <utility>

#include "platform/loop/loop_parts.h"
#include "platform/loop/uv_timer.h"
#include "platform/loop/uv_timer_slots.h"

namespace dovel::platform {
namespace {

template <class Handle>
void DeleteHandle(uv_handle_t* handle) {
  delete reinterpret_cast<Handle*>(handle);
}

uv_handle_t* AsHandle(void* handle) { return static_cast<uv_handle_t*>(handle); }

}  // namespace

UvMessageLoop::UvMessageLoop() : owner_(std::this_thread::get_id()) {
  auto loop = std::make_unique<uv_loop_t>();
  if (const int rc = uv_loop_init(loop.get()); rc != 0) {
    throw std::system_error(-rc, std::generic_category(), "uv_loop_init");
  }
  auto signal = std::make_unique<uv_async_t>();
  if (const int rc = uv_async_init(loop.get(), signal.get(), &UvMessageLoop::OnPosted); rc != 0) {
    uv_loop_close(loop.get());
    throw std::system_error(-rc, std::generic_category(), "uv_async_init");
  }
  signal->data = this;
  loop_ = loop.release();
  posted_signal_ = signal.release();
  slots_ = std::make_unique<UvTimerSlots>(*this);
}

UvMessageLoop::~UvMessageLoop() {
  uv_walk(loop_, &UvMessageLoop::CloseForShutdown, this);
  // With every handle closing, this only runs the close callbacks that free
  // them; no tick or posted work can run any more.
  uv_run(loop_, UV_RUN_DEFAULT);
  uv_loop_close(loop_);
  delete loop_;
  if (wake_timer_fd_ >= 0) close(wake_timer_fd_);
}

void UvMessageLoop::CloseForShutdown(uv_handle_t* handle, void* loop) {
  if (uv_is_closing(handle) != 0) return;
  if (handle == reinterpret_cast<uv_handle_t*>(static_cast<UvMessageLoop*>(loop)->slots_->handle())) {
    uv_close(handle, &DeleteHandle<uv_timer_t>);
    return;
  }
  switch (uv_handle_get_type(handle)) {
    case UV_TIMER:
      // Not closing, so its timer object is alive and still points at it.
      static_cast<UvTimer*>(handle->data)->Detach();
      break;
    case UV_ASYNC:
      uv_close(handle, &DeleteHandle<uv_async_t>);
      break;
    case UV_POLL:
      uv_close(handle, &DeleteHandle<uv_poll_t>);
      break;
    default:
      uv_close(handle, nullptr);
      break;
  }
}

std::unique_ptr<Timer> UvMessageLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<UvTimer>(*this, std::move(on_tick));
}

void UvMessageLoop::Run() { RunUntil(nullptr); }

void UvMessageLoop::RunUntil(const std::function<bool()>& done) {
  if (mode_ != Mode::kIdle) return;
  if (done && done()) return;
  mode_ = Mode::kRunning;
  done_ = done ? &done : nullptr;
  // The async handle keeps the loop alive, so each turn blocks until there is
  // something to do.
  while (!halted_) uv_run(loop_, UV_RUN_ONCE);
  FinishRun();
}

void UvMessageLoop::RunDue() {
  if (mode_ != Mode::kIdle) return;
  mode_ = Mode::kRunningDue;
  uv_run(loop_, UV_RUN_NOWAIT);
  FinishRun();
}

void UvMessageLoop::FinishRun() {
  mode_ = Mode::kIdle;
  done_ = nullptr;
  halted_ = false;
  if (watchers_unregistered_) RegisterWatchers();
  if (wake_timer_fd_ >= 0) ArmWakeTimer(false);
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void UvMessageLoop::Stop() {
  if (mode_ == Mode::kRunning) Halt();
}

void UvMessageLoop::Halt() {
  halted_ = true;
  // Also makes libuv skip blocking in the poll of the turn in progress.
  uv_stop(loop_);
}

void UvMessageLoop::RunWork(const std::function<void()>& work) {
  if (!RunKeepingFailure(work, done_, failure_)) Halt();
}

void UvMessageLoop::Post(std::function<void()> work) {
  if (!work) return;
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
  }
  uv_async_send(posted_signal_);
}

void UvMessageLoop::OnPosted(uv_async_t* signal) {
  static_cast<UvMessageLoop*>(signal->data)->RunPostedWork();
}

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
      if (!halted_) {
        work = std::move(posted_.front());
        posted_.pop_front();
      }
    }
    if (!work) {
      // The run is returning; signal again so the next run finds the rest.
      uv_async_send(posted_signal_);
      return;
    }
    RunWork(work);
  }
}

bool UvMessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

std::uint64_t UvMessageLoop::MillisecondsRoundedUp() {
  // libuv's time counts whole milliseconds of the same clock (or of its
  // coarse variant, which only lags behind it).
  return (uv_hrtime() + 999'999) / 1'000'000;
}

int UvMessageLoop::PollDescriptor() {
  if (wake_timer_fd_ < 0 && !StartWakeTimer()) return -1;
  return uv_backend_fd(loop_);
}

bool UvMessageLoop::StartWakeTimer() {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) return false;
  auto watch = std::make_unique<uv_poll_t>();
  if (uv_poll_init(loop_, watch.get(), fd) != 0) {
    close(fd);
    return false;
  }
  watch->data = this;
  uv_poll_start(watch.get(), UV_READABLE, &UvMessageLoop::OnWakeTimer);
  // The wake-up is a courtesy to the host; it must not keep a run alive.
  uv_unref(AsHandle(watch.get()));
  watch.release();  // freed with the other handles when the loop closes
  wake_timer_fd_ = fd;
  watchers_unregistered_ = true;
  if (mode_ == Mode::kIdle) {
    RegisterWatchers();
    ArmWakeTimer(false);
  }
  return true;
}

void UvMessageLoop::RegisterWatchers() {
  // libuv adds descriptors to its backend only when it next polls, so a host
  // polling the backend before the loop has turned would wait on an empty
  // set, deaf even to posted work. One turn with the run marked as returning
  // does the registration without running anything: due ticks and posted
  // work are held back for the host's first RunDue.
  watchers_unregistered_ = false;
  mode_ = Mode::kRunningDue;
  halted_ = true;
  uv_run(loop_, UV_RUN_NOWAIT);
  halted_ = false;
  mode_ = Mode::kIdle;
}

void UvMessageLoop::OnWakeTimer(uv_poll_t* watch, int, int) {
  // Drain the expiry count so the descriptor stops reading as ready; the due
  // timers themselves run from libuv's own timer pass.
  auto* self = static_cast<UvMessageLoop*>(watch->data);
  self->wake_deadline_ = kNoWakeUp;
  std::uint64_t expirations = 0;
  if (read(self->wake_timer_fd_, &expirations, sizeof expirations) < 0) return;
}

void UvMessageLoop::TimersChanged() {
  // During a run the wake-up is set once the run finishes.
  if (wake_timer_fd_ >= 0 && mode_ == Mode::kIdle) ArmWakeTimer(true);
}

void UvMessageLoop::ArmWakeTimer(bool only_if_earlier) {
  // The next due tick in libuv's own clock, which counts milliseconds of
  // CLOCK_MONOTONIC (or of its coarse variant, which lags by under a
  // millisecond), so its readings serve as absolute times for the timer
  // descriptor. Both are taken from the loop's cached time, stale or not.
  const int timeout = uv_backend_timeout(loop_);
  // One millisecond late on purpose: a wake-up just before libuv's clock
  // reaches the due millisecond would find nothing to run and arm again at
  // once.
  const std::uint64_t deadline =
      timeout < 0 ? kNoWakeUp : uv_now(loop_) + static_cast<std::uint64_t>(timeout) + 1;
  if (deadline == wake_deadline_ || (only_if_earlier && deadline > wake_deadline_)) return;
  wake_deadline_ = deadline;
  itimerspec when{};  // all zero disarms: no timer is running
  if (deadline != kNoWakeUp) {
    when.it_value.tv_sec = static_cast<time_t>(deadline / 1000);
    when.it_value.tv_nsec = static_cast<long>(deadline % 1000) * 1'000'000;
  }
  timerfd_settime(wake_timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

template <>
MessageLoop& SystemDefault<MessageLoop>() {
  thread_local UvMessageLoop loop;
  return loop;
}

}  // namespace dovel::platform
