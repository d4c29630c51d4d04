#pragma once

// What the COM server's client tests share: an STA for the test, a sink that
// records events, a message pump, late-bound calls and a look at running
// processes.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Dovel_h.h"
#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/com_values_win32.h"

namespace dovel::testing {

using platform::win32::Bstr;
using platform::win32::ComPtr;
using platform::win32::ScopedVariant;

// Runs the thread's messages (COM's calls and our events arrive that way)
// until `done` holds or `limit` has passed. The limit only ends a test that
// has already failed; no test passes or fails on how long this takes.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30));

// Creates the queue object in its local server, by ProgID.
[[nodiscard]] HRESULT CreateQueue(ComPtr<_clsMsgQueue>& queue);

// A sink for __clsMsgQueue that records every event it receives and may act
// on one (call back into the queue, unload it...).
class EventRecorder final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

  int Count(DISPID id) const;
  std::vector<DISPID> events;
  // The number of arguments each event came with.
  std::vector<UINT> argument_counts;
  std::function<void(DISPID)> on_event;
  // Set to make the sink answer only for IDispatch, as script engines do.
  bool only_idispatch = false;
  // What Invoke returns: a failure makes the sink look like a broken or a
  // dead client.
  HRESULT invoke_result = S_OK;

 private:
  std::atomic<ULONG> references_{1};
};

// Connects `sink` to the queue's connection point for __clsMsgQueue.
[[nodiscard]] HRESULT Connect(_clsMsgQueue* queue, IDispatch* sink, DWORD& cookie, ComPtr<IConnectionPoint>& point);

// A recording sink connected to a queue's events for the life of this
// object; `status` says whether connecting worked.
class Listener {
 public:
  explicit Listener(_clsMsgQueue* queue, bool only_idispatch = false);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Disconnects now; the result of Unadvise.
  [[nodiscard]] HRESULT Disconnect();

  EventRecorder* operator->() const { return sink_.get(); }
  HRESULT status = E_FAIL;
  DWORD cookie = 0;

 private:
  ComPtr<EventRecorder> sink_;
  ComPtr<IConnectionPoint> point_;
};

// Late-bound calls through IDispatch, by dispatch identifier.
[[nodiscard]] HRESULT PutById(IDispatch* object, DISPID id, VARIANT value);
[[nodiscard]] HRESULT GetById(IDispatch* object, DISPID id, ScopedVariant& result);
[[nodiscard]] HRESULT CallById(IDispatch* object, DISPID id);
DISPID IdOfName(IDispatch* object, const wchar_t* name);

// Whether a process with this executable name is running.
bool ProcessRunning(const wchar_t* executable);
// Ends every process with this executable name; how many there were.
int EndProcesses(const wchar_t* executable);

std::wstring ToWide(std::u16string_view text);
std::wstring ToWide(std::string_view ascii);
std::u16string ToU16(const BSTR text);

}  // namespace dovel::testing
