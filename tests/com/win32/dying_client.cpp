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
  Listener sink(queue.get());
  if (FAILED(sink.status)) return 3;
  ComPtr<IDispatch> heartbeat;
  if (FAILED(queue->get_HeartbeatTimer(heartbeat.put())) || !heartbeat) return 4;
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = 100;
  if (FAILED(PutById(heartbeat.get(), IdOfName(heartbeat.get(), L"Interval"), value))) return 6;
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  if (FAILED(PutById(heartbeat.get(), IdOfName(heartbeat.get(), L"Enabled"), value))) return 7;
  if (!PumpUntil([&] { return sink->Count(4) > 0; })) return 5;
  std::puts("ready");
  std::fflush(stdout);
  // Killed long before this ends; the limit only keeps a lost client from
  // living for ever.
  static_cast<void>(PumpUntil([] { return false; }, std::chrono::minutes(5)));
  return 0;
}
