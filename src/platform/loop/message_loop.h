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
// A tick never comes early. A timer of 100 ms or more may come up to a small
// slack late (1 ms at 100 ms, growing with the interval to at most 2 ms) so
// that the idle timers of many queue objects share the thread's wake-ups;
// shorter timers are kept to the millisecond.
// A new timer is disabled with Interval 0. Setting Enabled or Interval to the
// value it already has changes nothing; in particular the countdown goes on.
// A running timer keeps its own schedule: each tick falls due one interval
// after the one before it fell due, however late that one ran, so late ticks
// do not slow its rate. Ticks that fall due while the loop is busy or not
// being run do not pile up: one late tick is delivered, and the next one is
// the first of the schedule still ahead. A timer that is switched off at the
// start of its tick and on again at the end starts a fresh countdown each
// time, so it ticks every Interval plus the time the tick took.
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
  // never ticks again, even if it was destroyed inside its own tick or another
  // timer's. A timer may outlive its loop; it then never ticks and its setters
  // only record the value.
  virtual std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) = 0;

  // Runs ticks and posted work until Stop is called.
  //
  // The loop does not nest: Run, RunUntil and RunDue called from inside a
  // tick or posted work return at once without running anything. If a tick or
  // posted work throws, the run stops and the exception leaves Run, RunUntil
  // or RunDue; the loop stays usable.
  virtual void Run() = 0;

  // Runs until `done` returns true; `done` is checked before the first piece
  // of work and after every piece of work the loop runs.
  virtual void RunUntil(const std::function<bool()>& done) = 0;

  // Makes Run/RunUntil return after the work in progress; ticks and posted
  // work that were also due wait for the next run. Ignored while the loop is
  // not being run, so it cannot cut a later run short.
  virtual void Stop() = 0;

  // For a host that waits in a poll loop of its own (an event loop of another
  // library, a server with descriptors of its own) instead of calling Run.
  // The host repeats, on the loop's thread:
  //
  //   wait until PollDescriptor() is readable, for at most TimeUntilDue()
  //   milliseconds (-1: no limit), along with whatever else it waits for;
  //   then call RunDue(), whether the descriptor, the timeout or something
  //   else woke it.
  //
  // TimeUntilDue is asked afresh before every wait: a tick or posted work
  // may arm a timer, and so may the host's own code. Waking early or often
  // is harmless: RunDue then runs nothing, and the next TimeUntilDue is
  // shorter. Waking later than asked delays the ticks by as much.

  // A descriptor that is readable while posted work waits to run (or I/O of
  // the loop's own), the same one for the life of the loop. The host only
  // waits on it; it neither reads nor closes it. Ticks do not make it
  // readable: the host learns of them from TimeUntilDue. -1 where the
  // platform has no such descriptor; the host then waits the way that
  // loop's documentation says.
  [[nodiscard]] virtual int PollDescriptor() = 0;

  // Milliseconds from the call until the loop will run the next tick (a
  // long timer's may wait up to its slack, see Timer), rounded up so that a
  // wait of that long never ends before the tick is due: just after a timer
  // is armed, up to its interval plus slack plus one. 0 when a tick is due
  // already; kNoTickDue (-1, which poll() reads as no limit) when no timer is
  // running.
  static constexpr int kNoTickDue = -1;
  [[nodiscard]] virtual int TimeUntilDue() const = 0;

  // Runs what is due, without blocking: the posted work queued before the
  // call (what it posts waits for the next call) and the ticks that have
  // fallen due.
  virtual void RunDue() = 0;

  // Queues `work` to run on the loop's thread, after the work queued before
  // it. The one member that may be called from any thread. Empty work is
  // ignored; work still queued when the loop is destroyed is dropped unrun.
  virtual void Post(std::function<void()> work) = 0;

  // True when called on the thread that owns this loop (the one that made it).
  virtual bool IsOwnThread() const = 0;
};

// The loop of the calling thread, made on first use (or the test double
// installed with ScopedOverride<MessageLoop>).
template <>
MessageLoop& SystemDefault<MessageLoop>();

inline MessageLoop& CurrentMessageLoop() { return Current<MessageLoop>::Get(); }

}  // namespace dovel::platform
