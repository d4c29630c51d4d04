// A client that connects a sink to its own queue object, arms a fast
// heartbeat, says "ready" once the first heartbeat has reached it, and then
// waits to be killed: its sink is left behind in the server, dead.
#include <cstdio>

#include "com/win32/com_client_support.h"

int main() {
  using namespace dovel::testing;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  ComPtr<_clsMsgQueue> queue;
  if (FAILED(CreateQueue(queue))) return 2;
  Listener sink(queue.Get());
  if (FAILED(sink.status)) return 3;
  ComPtr<IDispatch> heartbeat;
  if (FAILED(queue->get_HeartbeatTimer(heartbeat.GetAddressOf())) || !heartbeat) return 4;
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = 100;
  PutById(heartbeat.Get(), IdOfName(heartbeat.Get(), L"Interval"), value);
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  PutById(heartbeat.Get(), IdOfName(heartbeat.Get(), L"Enabled"), value);
  if (!PumpUntil([&] { return sink->Count(4) > 0; })) return 5;
  std::puts("ready");
  std::fflush(stdout);
  PumpUntil([] { return false; }, std::chrono::minutes(5));
  return 0;
}
