#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/inactivity_clock.h"
#include "engine/queue_events.h"
#include "platform/clock/clock.h"
#include "platform/guid/guid_source.h"
#include "platform/loop/message_loop.h"
#include "store/cls_messages.h"
#include "store/identifier.h"

namespace dovel::engine {

// The queue engine: owns one queue object's three lists (work queue, current
// message, last sent message), its four timers and the client's switches.
// It has no thread of its own: everything happens in timer ticks and calls
// on the thread that made it, whose message loop serialises them.
//
// States: created (timers disabled, no lists) -> running (after Form_Load;
// worker enabled) or half-started (Form_Load failed part-way; worker
// disabled) -> stopped (Form_Unload: timers disabled, lists and Parent
// released). Form_Unload runs in any state, any number of times.
//
// On Windows the engine is a hidden window captioned "Message Queue" that is
// never shown; nothing depends on its position or icon. Here the thread's
// message loop hosts the timers and there is no window at all.
//
// What an engine runs on, handed in by whoever creates it: the loop of the
// engine's thread hosts its timers, the clock dates its inactivity deadline,
// the GUID source names its lists and the poll rate (the application's
// StandardPollRate setting) sets its worker. Each must outlive the engine.
struct EngineServices {
  platform::MessageLoop& loop;
  platform::Clock& clock;
  platform::GuidSource& guids;
  std::int16_t standard_poll_rate;
};

// Always held by a shared_ptr (use New): a tick keeps the engine alive while
// a client's event handler releases everything.
class frmMsgQueue : public std::enable_shared_from_this<frmMsgQueue> {
 public:
  static std::shared_ptr<frmMsgQueue> New(const EngineServices& services);
  ~frmMsgQueue();
  frmMsgQueue(const frmMsgQueue&) = delete;
  frmMsgQueue& operator=(const frmMsgQueue&) = delete;

  // Set once, by Form_Load; kept after a stop.
  std::u16string WorkQueueGUID;
  std::u16string CurrentMsgGUID;
  std::u16string LastSentMsgGUID;
  // The owning queue object, held strongly until the stop clears it.
  std::shared_ptr<QueueEvents> Parent;

  void Form_Load();
  void Form_Unload();

  // The client's write-only switches: stored, read by the next tick.
  void Disconnecting(bool bVal) { m_bDisconnecting = bVal; }
  void InactivityTimeout(std::int16_t iVal) { m_iInactivityTimeout = iVal; }
  void PanelEventWarning(bool bVal) { m_bPanelEventWarning = bVal; }
  void Unattended(bool bVal) { m_bUnattended = bVal; }

  // The client has dealt with InactiveSession: watch again from now on.
  void InactivityComplete();

  // The live timers; clients arm the three supervision timers through them.
  const std::shared_ptr<platform::Timer>& tmrWorker() const { return tmrWorker_; }
  const std::shared_ptr<platform::Timer>& tmrTimeOut() const { return tmrTimeOut_; }
  const std::shared_ptr<platform::Timer>& tmrHeartBeat() const { return tmrHeartBeat_; }
  const std::shared_ptr<platform::Timer>& tmrDiagRefresh() const { return tmrDiagRefresh_; }

  // Timer procedures; the timers call them on the engine's thread.
  void tmrWorker_Timer();
  void tmrTimeOut_Timer();
  void tmrHeartBeat_Timer();
  void tmrDiagRefresh_Timer();

  // For tests and diagnostics.
  bool IsUnloading() const { return m_bUnloading; }
  bool IsInactive() const { return m_bInactive; }
  float InactivityDeadlineValue() const { return m_sngInactivityDeadline.value(); }

 private:
  explicit frmMsgQueue(const EngineServices& services) : services_(services) {}
  void CreateTimers();

  // Success, RuntimeError::kGuidSourceFailed when the GUID source failed, or
  // what was trapped (reported under the procedure's own name).
  [[nodiscard]] std::error_code GetGUID(store::Identifier& id);
  [[nodiscard]] std::error_code GuidString(const platform::Guid& guid, store::Identifier& id);

  // Supervision and dispatch steps of the worker tick.
  void SuperviseInactivity(std::shared_ptr<store::clsMessage>& last);
  void Dispatch(std::shared_ptr<store::clsMessage>& msg, std::shared_ptr<store::clsMessage>& cur);

  const EngineServices services_;
  bool m_bUnloading = false;
  InactivityDeadline m_sngInactivityDeadline;
  bool m_bInactive = false;
  bool m_bPanelEventWarning = false;
  bool m_bDisconnecting = false;
  bool m_bUnattended = false;
  std::int16_t m_iInactivityTimeout = 0;
  std::unique_ptr<store::clsMessages> m_oWorkQueue;
  std::unique_ptr<store::clsMessages> m_oCurrentMsg;
  std::unique_ptr<store::clsMessages> m_oLastSentMsg;
  // The non-automatic message that last restarted the deadline.
  store::Identifier sLastActivityGUID;

  std::shared_ptr<platform::Timer> tmrHeartBeat_;
  std::shared_ptr<platform::Timer> tmrDiagRefresh_;
  std::shared_ptr<platform::Timer> tmrTimeOut_;
  std::shared_ptr<platform::Timer> tmrWorker_;
};

}  // namespace dovel::engine
