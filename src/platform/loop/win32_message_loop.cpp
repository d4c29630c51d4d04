#include "platform/loop/win32_message_loop.h"

#include <windows.h>

#include <system_error>
#include <utility>

#include "platform/loop/loop_parts.h"

namespace dovel::platform {
namespace {

// Private to the window class, so no other window's message can collide.
constexpr UINT kWakeMessage = WM_APP + 0x51;
constexpr wchar_t kWindowClass[] = L"DovelMessageQueueWindow";
constexpr wchar_t kWindowCaption[] = L"Message Queue";

}  // namespace

class Win32Timer final : public TimerSettings {
 public:
  Win32Timer(Win32MessageLoop& loop, std::function<void()> on_tick, std::uint64_t serial)
      : loop_(&loop),
        serial_(serial),
        on_tick_(std::make_shared<const std::function<void()>>(std::move(on_tick))) {}

  ~Win32Timer() override {
    if (loop_ == nullptr) return;
    loop_->Disarm(id_);
    loop_->timers_.erase(serial_);
  }

  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

 private:
  friend class Win32MessageLoop;

  // A fresh countdown under a fresh identifier, or none; a tick held for the
  // next run belonged to the old countdown and goes with it.
  void SettingsChanged() override {
    held_ = false;
    if (loop_ == nullptr) return;
    loop_->Disarm(id_);
    id_ = 0;
    if (Runs()) id_ = loop_->Arm(*this, static_cast<std::uint32_t>(interval_));
  }

  Win32MessageLoop* loop_;
  const std::uint64_t serial_;
  // Shared so that a tick that destroys its own timer does not destroy the
  // callable while it is still running.
  std::shared_ptr<const std::function<void()>> on_tick_;
  // The Windows timer identifier of the current countdown, 0 when stopped.
  std::uintptr_t id_ = 0;
  // A tick fell due when it could not run; it runs at the next chance.
  bool held_ = false;
  bool ticking_ = false;
};

struct Win32LoopWindow {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* loop = reinterpret_cast<Win32MessageLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (loop != nullptr) {
      if (message == WM_TIMER) {
        loop->OnTimerMessage(wparam);
        return 0;
      }
      if (message == kWakeMessage) {
        loop->OnWakeMessage();
        return 0;
      }
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  static void Register() {
    static const DWORD error = [] {
      WNDCLASSEXW window_class{};
      window_class.cbSize = sizeof window_class;
      window_class.lpfnWndProc = &Procedure;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.lpszClassName = kWindowClass;
      if (RegisterClassExW(&window_class) != 0) return DWORD{0};
      const DWORD failure = GetLastError();
      return failure == ERROR_CLASS_ALREADY_EXISTS ? DWORD{0} : failure;
    }();
    if (error != 0) throw std::system_error(static_cast<int>(error), std::system_category(), "RegisterClassExW");
  }
};

Win32MessageLoop::Win32MessageLoop() : owner_(std::this_thread::get_id()) {
  Win32LoopWindow::Register();
  window_ = CreateWindowExW(0, kWindowClass, kWindowCaption, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateWindowExW");
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32MessageLoop::~Win32MessageLoop() {
  for (auto& [serial, timer] : timers_) {
    timer->loop_ = nullptr;
    timer->id_ = 0;
  }
  // Messages still queued for the window find no loop behind it, and
  // destroying the window kills its Windows timers.
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

std::unique_ptr<Timer> Win32MessageLoop::CreateTimer(std::function<void()> on_tick) {
  const std::uint64_t serial = next_serial_++;
  auto timer = std::make_unique<Win32Timer>(*this, std::move(on_tick), serial);
  timers_.emplace(serial, timer.get());
  return timer;
}

std::uintptr_t Win32MessageLoop::Arm(Win32Timer& timer, std::uint32_t interval) {
  const std::uintptr_t id = next_timer_id_++;
  // Windows raises intervals under 10 ms to 10 ms. Without a system timer
  // left (a per-session quota) the timer cannot run; it stays enabled and
  // silent, as a form's timer does.
  if (SetTimer(window_, id, interval, nullptr) == 0) return 0;
  armed_.emplace(id, &timer);
  return id;
}

void Win32MessageLoop::Disarm(std::uintptr_t id) {
  if (id == 0) return;
  KillTimer(window_, id);
  armed_.erase(id);
}

void Win32MessageLoop::OnTimerMessage(std::uintptr_t id) {
  const auto found = armed_.find(id);
  if (found == armed_.end()) return;  // an earlier countdown or another window's timer
  Win32Timer& timer = *found->second;
  // A tick that pumps messages meets its own timer again: dropped, since the
  // tick sets a fresh countdown when it returns.
  if (timer.ticking_) return;
  if (!CanRunWorkNow()) {
    timer.held_ = true;
    ticks_held_ = true;
    return;
  }
  DeliverTick(timer);
}

void Win32MessageLoop::DeliverTick(Win32Timer& timer) {
  const std::uint64_t serial = timer.serial_;
  const std::uintptr_t id = timer.id_;
  const auto on_tick = timer.on_tick_;
  timer.held_ = false;
  timer.ticking_ = true;
  if (*on_tick) RunWork(*on_tick);
  const auto alive = timers_.find(serial);
  if (alive == timers_.end()) return;  // destroyed by its own tick
  Win32Timer& self = *alive->second;
  self.ticking_ = false;
  // Set again unless the tick re-armed or stopped it: the next period counts
  // from this tick, and a late tick does not leave another one due at once.
  if (id != 0 && self.id_ == id &&
      SetTimer(window_, id, static_cast<UINT>(self.interval_), nullptr) == 0) {
    Disarm(id);
    self.id_ = 0;
  }
}

void Win32MessageLoop::OnWakeMessage() {
  // Cleared first: work posted from now on queues a new wake-up.
  wake_queued_.store(false);
  if (!CanRunWorkNow() || (mode_ == Mode::kRunningDue && batch_done_)) {
    wake_held_ = true;
    return;
  }
  RunPostedBatch();
}

void Win32MessageLoop::RunPostedBatch() {
  // Only the work queued now: work that keeps posting more must not keep
  // RunDue from returning. Work posted meanwhile has queued a wake-up of its
  // own.
  std::size_t batch = 0;
  {
    std::lock_guard lock(posted_mutex_);
    batch = posted_.size();
  }
  if (mode_ == Mode::kRunningDue) batch_done_ = true;
  for (; batch > 0; --batch) {
    if (!CanRunWorkNow()) {
      wake_held_ = true;  // the run is returning: the rest waits for the next
      return;
    }
    std::function<void()> work;
    {
      std::lock_guard lock(posted_mutex_);
      if (posted_.empty()) return;
      work = std::move(posted_.front());
      posted_.pop_front();
    }
    RunWork(work);
  }
}

void Win32MessageLoop::RunHeldWork() {
  if (ticks_held_ && CanRunWorkNow()) {
    ticks_held_ = false;
    // In creation order; a tick may make or destroy timers, so the walk goes
    // by serial rather than by iterator.
    std::uint64_t after = 0;
    for (;;) {
      auto next = timers_.upper_bound(after);
      while (next != timers_.end() && !next->second->held_) ++next;
      if (next == timers_.end()) break;
      if (!CanRunWorkNow()) {
        ticks_held_ = true;
        break;
      }
      after = next->first;
      DeliverTick(*next->second);
    }
  }
  if (wake_held_ && CanRunWorkNow() && !(mode_ == Mode::kRunningDue && batch_done_)) {
    wake_held_ = false;
    RunPostedBatch();
  }
}

void Win32MessageLoop::RunWork(const std::function<void()>& work) {
  WorkScope scope(work_depth_);
  if (!RunKeepingFailure(work, done_, failure_)) Halt();
}

bool Win32MessageLoop::Dispatch(const void* message) {
  const MSG& msg = *static_cast<const MSG*>(message);
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  if (msg.hwnd == window_ && msg.message == kWakeMessage) DispatchDueTicks();
  RunHeldWork();
  return true;
}

void Win32MessageLoop::DispatchDueTicks() {
  // Windows makes a WM_TIMER only when no posted message is waiting, so work
  // that keeps posting more would keep every tick away. After each batch of
  // posted work the ticks already due go first, each timer at most once.
  MSG msg;
  for (std::size_t left = armed_.size(); left > 0 && CanRunWorkNow(); --left) {
    if (!PeekMessageW(&msg, window_, WM_TIMER, WM_TIMER, PM_REMOVE)) break;
    DispatchMessageW(&msg);
  }
}

void Win32MessageLoop::Run() { RunUntil(nullptr); }

void Win32MessageLoop::RunUntil(const std::function<bool()>& done) {
  if (mode_ != Mode::kIdle) return;
  if (done && done()) return;
  mode_ = Mode::kRunning;
  done_ = done ? &done : nullptr;
  RunHeldWork();
  MSG msg;
  // Every message of the thread, so that COM's apartment window is served
  // too.
  while (!halted_) {
    if (GetMessageW(&msg, nullptr, 0, 0) == -1 || !Dispatch(&msg)) break;
  }
  FinishRun();
}

void Win32MessageLoop::RunDue() {
  if (mode_ != Mode::kIdle) return;
  mode_ = Mode::kRunningDue;
  RunHeldWork();
  MSG msg;
  while (!halted_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!Dispatch(&msg)) break;
  }
  FinishRun();
}

void Win32MessageLoop::FinishRun() {
  mode_ = Mode::kIdle;
  done_ = nullptr;
  halted_ = false;
  batch_done_ = false;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void Win32MessageLoop::Stop() {
  if (mode_ == Mode::kRunning) Halt();
}

void Win32MessageLoop::Post(std::function<void()> work) {
  if (!work) return;
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
  }
  Wake();
}

void Win32MessageLoop::Wake() {
  if (wake_queued_.exchange(true)) return;
  // A full thread queue refuses the message; the next Post tries again.
  if (PostMessageW(window_, kWakeMessage, 0, 0) == 0) wake_queued_.store(false);
}

bool Win32MessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

template <>
MessageLoop& SystemDefault<MessageLoop>() {
  thread_local Win32MessageLoop loop;
  return loop;
}

}  // namespace dovel::platform
