#include "platform/loop/win32_message_loop.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <map>
#include <system_error>
#include <utility>

#include "platform/loop/loop_parts.h"

namespace dovel::platform {
namespace {

// Private to the window class, so no other window's message can collide.
constexpr UINT kWakeMessage = WM_APP + 0x51;
constexpr wchar_t kWindowClass[] = L"DovelMessageQueueWindow";
constexpr wchar_t kWindowCaption[] = L"Message Queue";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* events = reinterpret_cast<Win32WindowEvents*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (events != nullptr) {
    if (message == WM_TIMER) {
      events->OnTimerMessage(wparam);
      return 0;
    }
    if (message == kWakeMessage) {
      events->OnWakeMessage();
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterWindowClass() {
  static const DWORD error = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &WindowProcedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    if (RegisterClassExW(&window_class) != 0) return DWORD{0};
    const DWORD failure = GetLastError();
    return failure == ERROR_CLASS_ALREADY_EXISTS ? DWORD{0} : failure;
  }();
  if (error != 0) throw std::system_error(static_cast<int>(error), std::system_category(), "RegisterClassExW");
}

}  // namespace

void DestroyWin32Window::operator()(HWND window) const noexcept {
  // Fails only for a window that is gone already or belongs to another
  // thread, which the loop's rules rule out; nothing is left to release.
  static_cast<void>(DestroyWindow(window));
}

// The timers of one loop, each armed as a Windows timer of the loop's window
// under an identifier of its arming. The loop and its timers share it; once
// the loop is gone it is closed, and its timers only record their settings.
class Win32TimerQueue {
 public:
  struct Entry {
    explicit Entry(std::function<void()> on_tick)
        : tick(std::make_shared<const std::function<void()>>(std::move(on_tick))) {}

    // Shared so that a tick that destroys its own timer does not destroy the
    // callable while it is still running.
    std::shared_ptr<const std::function<void()>> tick;
    std::uint64_t serial = 0;
    std::int32_t interval = 0;
    // The Windows timer identifier of the current countdown, 0 when stopped.
    std::uintptr_t id = 0;
    // When the current countdown began.
    std::chrono::steady_clock::time_point armed_at;
    // A tick fell due when it could not run; it runs at the next chance.
    bool held = false;
    bool ticking = false;
  };

  explicit Win32TimerQueue(HWND window) : window_(window) {}

  void Add(Entry& entry) {
    if (closed_) return;
    entry.serial = next_serial_++;
    entries_.emplace(entry.serial, &entry);
  }

  void Remove(Entry& entry) {
    if (closed_) return;
    Disarm(entry);
    entries_.erase(entry.serial);
  }

  // A fresh countdown of `interval` under a fresh identifier, or none at 0;
  // a tick held for the next run belonged to the old countdown and goes
  // with it.
  void Restart(Entry& entry, std::int32_t interval) {
    entry.held = false;
    if (closed_) return;
    Disarm(entry);
    entry.interval = interval;
    if (interval <= 0) return;
    const std::uintptr_t id = next_timer_id_++;
    // Windows raises intervals under 10 ms to 10 ms. Without a system timer
    // left (a per-session quota) the timer cannot run; it stays enabled and
    // silent, as a form's timer does.
    if (SetTimer(window_, id, static_cast<UINT>(interval), nullptr) == 0) return;
    entry.id = id;
    entry.armed_at = std::chrono::steady_clock::now();
    armed_.emplace(id, &entry);
  }

  // After its tick: the next period counts from now, and a late tick does not
  // leave another one due at once.
  void SetAgain(Entry& entry) {
    if (closed_ || entry.id == 0) return;
    if (SetTimer(window_, entry.id, static_cast<UINT>(entry.interval), nullptr) == 0) {
      Disarm(entry);
      return;
    }
    entry.armed_at = std::chrono::steady_clock::now();
  }

  Entry* Armed(std::uintptr_t id) const {
    const auto found = armed_.find(id);
    return found == armed_.end() ? nullptr : found->second;
  }
  Entry* Live(std::uint64_t serial) const {
    const auto found = entries_.find(serial);
    return found == entries_.end() ? nullptr : found->second;
  }
  // The first timer after `serial`, in creation order, with a tick held.
  Entry* NextHeld(std::uint64_t serial) const {
    for (auto next = entries_.upper_bound(serial); next != entries_.end(); ++next) {
      if (next->second->held) return next->second;
    }
    return nullptr;
  }
  std::size_t ArmedCount() const { return armed_.size(); }

  // Milliseconds until the first armed timer's countdown ends, or -1.
  int TimeToFirstCountdownEnd() const {
    if (armed_.empty()) return -1;
    const auto now = std::chrono::steady_clock::now();
    auto first = std::chrono::steady_clock::time_point::max();
    for (const auto& [id, entry] : armed_) {
      const auto interval = std::chrono::milliseconds(std::max<std::int32_t>(entry->interval, USER_TIMER_MINIMUM));
      first = std::min(first, entry->armed_at + interval);
    }
    if (first <= now) return 0;
    // Rounded up, so a wait of that long ends at the due time or after.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - now).count();
    return static_cast<int>(std::min<std::int64_t>(left, INT_MAX));
  }

  // The loop is going: its window, destroyed next, kills the Windows timers.
  void Close() {
    closed_ = true;
    for (auto& [id, entry] : armed_) entry->id = 0;
    armed_.clear();
    entries_.clear();
  }

 private:
  void Disarm(Entry& entry) {
    if (entry.id == 0) return;
    // Fails only for a timer Windows no longer has; either way it is gone.
    static_cast<void>(KillTimer(window_, entry.id));
    armed_.erase(entry.id);
    entry.id = 0;
  }

  const HWND window_;
  // Live timers by serial (creation order), and armed ones by Windows id.
  std::map<std::uint64_t, Entry*> entries_;
  std::map<std::uintptr_t, Entry*> armed_;
  std::uint64_t next_serial_ = 1;
  std::uintptr_t next_timer_id_ = 1;
  bool closed_ = false;
};

namespace {

class Win32Timer final : public TimerSettings {
 public:
  Win32Timer(std::shared_ptr<Win32TimerQueue> queue, std::function<void()> on_tick)
      : queue_(std::move(queue)), entry_(std::move(on_tick)) {
    queue_->Add(entry_);
  }
  ~Win32Timer() override { queue_->Remove(entry_); }
  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

 private:
  void SettingsChanged() override { queue_->Restart(entry_, Runs() ? interval_ : 0); }

  const std::shared_ptr<Win32TimerQueue> queue_;
  Win32TimerQueue::Entry entry_;
};

}  // namespace

Win32MessageLoop::Win32MessageLoop() : owner_(std::this_thread::get_id()) {
  RegisterWindowClass();
  window_.reset(CreateWindowExW(0, kWindowClass, kWindowCaption, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr));
  if (!window_) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateWindowExW");
  }
  timers_ = std::make_shared<Win32TimerQueue>(window_.get());
  // It returns the value before, 0 here; only the last error tells failure.
  SetLastError(ERROR_SUCCESS);
  if (SetWindowLongPtrW(window_.get(), GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(static_cast<Win32WindowEvents*>(this))) == 0 &&
      GetLastError() != ERROR_SUCCESS) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "SetWindowLongPtrW");
  }
}

Win32MessageLoop::~Win32MessageLoop() {
  timers_->Close();
  // Messages still queued for the window find no loop behind it; the
  // window's owner then destroys it. This cannot fail on the window's own
  // thread, and the value before is this loop.
  static_cast<void>(SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0));
}

std::unique_ptr<Timer> Win32MessageLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<Win32Timer>(timers_, std::move(on_tick));
}

void Win32MessageLoop::OnTimerMessage(std::uintptr_t id) {
  Win32TimerQueue::Entry* const timer = timers_->Armed(id);
  if (timer == nullptr) return;  // an earlier countdown or another window's timer
  // A tick that pumps messages meets its own timer again: dropped, since the
  // tick sets a fresh countdown when it returns.
  if (timer->ticking) return;
  if (!CanRunWorkNow()) {
    timer->held = true;
    ticks_held_ = true;
    return;
  }
  DeliverTick(timer->serial);
}

void Win32MessageLoop::DeliverTick(std::uint64_t serial) {
  Win32TimerQueue::Entry* timer = timers_->Live(serial);
  const std::uintptr_t id = timer->id;
  const auto on_tick = timer->tick;
  timer->held = false;
  timer->ticking = true;
  if (*on_tick) RunWork(*on_tick);
  timer = timers_->Live(serial);
  if (timer == nullptr) return;  // destroyed by its own tick
  timer->ticking = false;
  // Set again unless the tick re-armed or stopped it.
  if (id != 0 && timer->id == id) timers_->SetAgain(*timer);
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
    while (const Win32TimerQueue::Entry* next = timers_->NextHeld(after)) {
      if (!CanRunWorkNow()) {
        ticks_held_ = true;
        break;
      }
      after = next->serial;
      DeliverTick(after);
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
  if (msg.hwnd == window_.get() && msg.message == kWakeMessage) DispatchDueTicks();
  RunHeldWork();
  return true;
}

void Win32MessageLoop::DispatchDueTicks() {
  // Windows makes a WM_TIMER only when no posted message is waiting, so work
  // that keeps posting more would keep every tick away. After each batch of
  // posted work the ticks already due go first, each timer at most once.
  MSG msg;
  for (std::size_t left = timers_->ArmedCount(); left > 0 && CanRunWorkNow(); --left) {
    if (!PeekMessageW(&msg, window_.get(), WM_TIMER, WM_TIMER, PM_REMOVE)) break;
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
    // GetMessageW fails only when handed a bad window or message, and is
    // given neither; the run ends rather than spin on it.
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
  if (PostMessageW(window_.get(), kWakeMessage, 0, 0) == 0) wake_queued_.store(false);
}

int Win32MessageLoop::TimeUntilDue() const {
  // Held work has had its message already; none will wake the host for it.
  if (ticks_held_ || wake_held_) return 0;
  const int left = timers_->TimeToFirstCountdownEnd();
  // The countdown is over and its WM_TIMER on the way.
  return left == 0 ? 1 : left;
}

bool Win32MessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

template <>
MessageLoop& SystemDefault<MessageLoop>() {
  thread_local Win32MessageLoop loop;
  return loop;
}

}  // namespace dovel::platform
