#pragma once

namespace dovel::engine {

// What the engine's Parent offers it: the five event raisers. Each raises
// its event to every connected client before it returns; the engine learns
// nothing of who listened or what they did.
class QueueEvents {
 public:
  virtual ~QueueEvents() = default;
  virtual void RaiseSendData() = 0;
  virtual void RaiseTimeout() = 0;
  virtual void RaiseInactiveSession() = 0;
  virtual void RaiseHeartbeat() = 0;
  virtual void RaiseDiagRefresh() = 0;
};

}  // namespace dovel::engine
