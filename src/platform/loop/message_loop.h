#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/core/current.h"

namespace dovel::platform {

// A timer that delivers ticks on the thread of the loop that made it.
//
// Behaviour the queue engine relies on:
// - while Enabled and Interval > 0 it ticks every Interval milliseconds, one
//   tick at a time (a tick never starts while another of the same timer runs);
// - while disabled, or at Interval 0, it delivers no ticks; a negative
//   Interval also delivers none;
// - switching Enabled from false to true starts a fresh full countdown;
// - changing Interval while enabled starts a fresh countdown of the new
//   interval (as a Windows timer does when it is set again);
// - switching Enabled off inside a tick prevents further ticks until it is
//   switched on again.
// A new timer is disabled with Interval 0.
// Threads: every member must be called on the loop's thread.
class Timer {
 public:
  virtual ~Timer() = default;

  virtual std::int32_t Interval() const = 0;
  virtual void SetInterval(std::int32_t milliseconds) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

// The message loop of one thread: what a hidden window's message pump is on
// Windows. Ticks and posted work run only while the loop is being run, on the
// thread that runs it.
class MessageLoop {
 public:
  virtual ~MessageLoop() = default;

  // A new timer, disabled with Interval 0, whose ticks call `on_tick`. The
  // caller owns it and destroys it on the loop's thread; a destroyed timer
  // never ticks again, even if it was destroyed inside its own tick.
  virtual std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) = 0;

  // Runs ticks and posted work until Stop is called.
  virtual void Run() = 0;

  // Runs until `done` returns true; `done` is checked after every piece of
  // work the loop runs.
  virtual void RunUntil(const std::function<bool()>& done) = 0;

  // Makes Run/RunUntil return after the work in progress.
  virtual void Stop() = 0;

  // For a host with its own poll loop: a descriptor that becomes readable when
  // the loop has work due (-1 where the platform has none), and a call that
  // runs whatever is due without blocking.
  virtual int PollDescriptor() = 0;
  virtual void RunDue() = 0;

  // Queues `work` to run on the loop's thread. The one member that may be
  // called from any thread.
  virtual void Post(std::function<void()> work) = 0;

  // True when called on the thread that owns this loop.
  virtual bool IsOwnThread() const = 0;
};

// The loop of the calling thread, made on first use (or the test double
// installed with ScopedOverride<MessageLoop>).
inline MessageLoop& CurrentMessageLoop() { return Current<MessageLoop>::Get(); }

}  // namespace dovel::platform
