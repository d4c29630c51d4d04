// The calls of a queue object through the server: its settings, timers,
// methods and events.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/bus_errors.h"
#include "client/bus_handles.h"
#include "client/c_boundary.h"
#include "dovel/server.h"
#include "store/block_layout.h"

namespace {

using dovel::client::Finish;
using dovel::client::bus::BusGuarded;
using dovel::client::bus::TimerProxy;

bool IsTimer(dovel_server_timer which) { return which >= DOVEL_TIMER_WORKER && which <= DOVEL_TIMER_DIAG_REFRESH; }

// The timer's proxy, made on first use from the path the object gives.
TimerProxy& Timer(dovel_server_queue& queue, dovel_server_timer which) {
  auto& timer = queue.timers.at(static_cast<std::size_t>(which));
  if (timer == nullptr) {
    auto& object = *queue.proxy;
    sdbus::ObjectPath path;
    switch (which) {
      case DOVEL_TIMER_WORKER: path = object.WorkerTimer(); break;
      case DOVEL_TIMER_TIMEOUT: path = object.TimeoutTimer(); break;
      case DOVEL_TIMER_HEARTBEAT: path = object.HeartbeatTimer(); break;
      case DOVEL_TIMER_DIAG_REFRESH: path = object.DiagRefreshTimer(); break;
    }
    timer = std::make_unique<TimerProxy>(*queue.connection->bus, path);
  }
  return *timer;
}

}  // namespace

extern "C" {

dovel_result dovel_server_queue_set_switch(dovel_server_queue* queue, dovel_server_switch which, int on) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    auto& object = *queue->proxy;
    switch (which) {
      case DOVEL_SWITCH_DISCONNECTING: object.Disconnecting(on != 0); return DOVEL_OK;
      case DOVEL_SWITCH_PANEL_EVENT_WARNING: object.PanelEventWarning(on != 0); return DOVEL_OK;
      case DOVEL_SWITCH_UNATTENDED: object.Unattended(on != 0); return DOVEL_OK;
    }
    return DOVEL_INVALID_ARGUMENT;
  });
}

dovel_result dovel_server_queue_set_inactivity_timeout(dovel_server_queue* queue, int16_t seconds) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    queue->proxy->InactivityTimeout(seconds);
    return DOVEL_OK;
  });
}

dovel_result dovel_server_timer_get(dovel_server_queue* queue, dovel_server_timer which, int32_t* interval_ms,
                                    int* enabled) {
  if (queue == nullptr || !IsTimer(which)) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    TimerProxy& timer = Timer(*queue, which);
    // Both read before either is written: a failure leaves both as they were.
    const std::int32_t interval = interval_ms != nullptr ? timer.Interval() : 0;
    const bool running = enabled != nullptr && timer.Enabled();
    if (interval_ms != nullptr) *interval_ms = interval;
    if (enabled != nullptr) *enabled = running ? 1 : 0;
    return DOVEL_OK;
  });
}

dovel_result dovel_server_timer_set_interval(dovel_server_queue* queue, dovel_server_timer which, int32_t interval_ms) {
  if (queue == nullptr || !IsTimer(which)) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    Timer(*queue, which).Interval(interval_ms);
    return DOVEL_OK;
  });
}

dovel_result dovel_server_timer_set_enabled(dovel_server_queue* queue, dovel_server_timer which, int enabled) {
  if (queue == nullptr || !IsTimer(which)) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    Timer(*queue, which).Enabled(enabled != 0);
    return DOVEL_OK;
  });
}

dovel_result dovel_server_queue_post(dovel_server_queue* queue, const char* name, const void* data, size_t size,
                                     int automatic, char* id_out) {
  if (queue == nullptr || (data == nullptr && size != 0)) return Finish(DOVEL_INVALID_ARGUMENT);
  // The same limits as a post through shared memory, checked before the
  // call so the answer is the same.
  if (size > dovel::store::layout::kDataCapacityBytes) return Finish(DOVEL_TOO_LONG);
  std::u16string units;
  if (!dovel::client::FromCallerUtf8(name, units)) return Finish(DOVEL_BAD_TEXT);
  if (units.size() > dovel::store::layout::kTextCapacityBytes / 2) return Finish(DOVEL_TOO_LONG);
  return BusGuarded([&] {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::string id =
        queue->proxy->Post(name == nullptr ? "" : name, std::vector<std::uint8_t>(bytes, bytes + size), automatic != 0);
    dovel::store::Identifier parsed;
    if (dovel::client::ParseCallerId(id.c_str(), parsed)) return DOVEL_BUS_ERROR;
    dovel::client::CopyId(parsed, id_out);
    return DOVEL_OK;
  });
}

dovel_result dovel_server_queue_inactivity_complete(dovel_server_queue* queue) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    queue->proxy->InactivityComplete();
    return DOVEL_OK;
  });
}

dovel_result dovel_server_queue_unload(dovel_server_queue* queue) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    queue->proxy->UnloadQueue();
    return DOVEL_OK;
  });
}

dovel_result dovel_server_queue_on_event(dovel_server_queue* queue, dovel_server_event_callback callback,
                                         void* context) {
  if (queue == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  queue->proxy->SetSink(callback, context);
  return Finish(DOVEL_OK);
}

}  // extern "C"
