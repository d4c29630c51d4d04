#include "com/win32/com_client_support.h"

#include <olectl.h>
#include <tlhelp32.h>

#include <algorithm>

#include "com/dispatch_ids.h"
#include "platform/com_server/win32_handles.h"

namespace dovel::testing {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= give_up) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

HRESULT CreateQueue(ComPtr<_clsMsgQueue>& queue) {
  CLSID clsid{};
  const HRESULT hr = CLSIDFromProgID(ToWide(com::kProgId).c_str(), &clsid);
  if (FAILED(hr)) return hr;
  // A server on its way out refuses to activate: Windows says
  // CO_E_SERVER_STOPPING; Wine loses the call (RPC_S_CALL_FAILED), finds its
  // interfaces already gone (RPC_S_UNKNOWN_IF) or the server unreachable
  // (RPC_S_SERVER_UNAVAILABLE). A client asks again once that server is gone,
  // and the next one starts.
  HRESULT created = E_FAIL;
  for (int attempt = 0; attempt < 25; ++attempt) {
    created = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID__clsMsgQueue, queue.put_void());
    if (created != CO_E_SERVER_STOPPING && created != HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) &&
        created != HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF) && created != HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)) {
      return created;
    }
    Sleep(200);
  }
  return created;
}

STDMETHODIMP EventRecorder::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch || (!only_idispatch && iid == DIID___clsMsgQueue)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EventRecorder::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP EventRecorder::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP EventRecorder::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  events.push_back(id);
  argument_counts.push_back(params != nullptr ? params->cArgs : 0);
  if (on_event) on_event(id);
  return invoke_result;
}

int EventRecorder::Count(DISPID id) const { return static_cast<int>(std::count(events.begin(), events.end(), id)); }

HRESULT Connect(_clsMsgQueue* queue, IDispatch* sink, DWORD& cookie, ComPtr<IConnectionPoint>& point) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = queue->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) return hr;
  hr = container->FindConnectionPoint(DIID___clsMsgQueue, point.put());
  if (FAILED(hr)) return hr;
  return point->Advise(sink, &cookie);
}

Listener::Listener(_clsMsgQueue* queue, bool only_idispatch)
    : sink_(ComPtr<EventRecorder>::Adopt(new EventRecorder())) {
  sink_->only_idispatch = only_idispatch;
  status = Connect(queue, sink_.get(), cookie, point_);
}

Listener::~Listener() {
  // Already disconnected, or never connected: either way nothing is left.
  static_cast<void>(Disconnect());
}

HRESULT Listener::Disconnect() {
  if (!point_) return CONNECT_E_NOCONNECTION;
  const HRESULT hr = point_->Unadvise(cookie);
  point_.reset();
  return hr;
}

HRESULT PutById(IDispatch* object, DISPID id, VARIANT value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

HRESULT GetById(IDispatch* object, DISPID id, ScopedVariant& result) {
  DISPPARAMS none{};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr);
}

HRESULT CallById(IDispatch* object, DISPID id) {
  DISPPARAMS none{};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

DISPID IdOfName(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

namespace {

// The identifiers of the running processes with this executable name.
std::vector<DWORD> ProcessesNamed(const wchar_t* executable) {
  std::vector<DWORD> found;
  const platform::win32::KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, executable) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

}  // namespace

bool ProcessRunning(const wchar_t* executable) { return !ProcessesNamed(executable).empty(); }

int EndProcesses(const wchar_t* executable) {
  int ended = 0;
  for (const DWORD id : ProcessesNamed(executable)) {
    const platform::win32::KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) continue;
    if (TerminateProcess(process.get(), 1)) {
      // Ended is ended; the wait only lets it finish going.
      static_cast<void>(WaitForSingleObject(process.get(), 10000));
      ++ended;
    }
  }
  return ended;
}

std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring ToWide(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::u16string ToU16(const BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

}  // namespace dovel::testing
