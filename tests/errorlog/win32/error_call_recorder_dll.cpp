// ErrorObjectRecorder.dll: a stand-in for the error-logging component that
// tests register under "ErrorObject.clsErrorObject". It accepts every
// member and writes each late-bound call it receives, one line per call, to
// ErrorObjectRecorder.calls beside the DLL:
//   put AppName BSTR:Dovel
//   call Add I4:13 DATE DATE missing missing missing missing BSTR:modGlobals ...
// Arguments appear in positional order; "I2&" is a 16-bit integer passed by
// reference, "missing" an optional argument left out.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com_server/com_object.h"
#include "platform/com_server/inproc_server.h"
#include "platform/com_server/type_library.h"

namespace {

namespace com_server = dovel::platform::com_server;

constexpr CLSID kClassId = {0x8B1D4E62, 0x0C37, 0x4A9F, {0xA5, 0xE8, 0x2D, 0x6F, 0x9B, 0x3C, 0x7E, 0x11}};

std::string Narrow(const wchar_t* text, UINT length) {
  std::string out;
  for (UINT i = 0; i < length; ++i) out += text[i] < 128 ? static_cast<char>(text[i]) : '?';
  return out;
}

std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_I2: return "I2:" + std::to_string(v.iVal);
    case VT_I2 | VT_BYREF: return "I2&:" + std::to_string(*v.piVal);
    case VT_I4: return "I4:" + std::to_string(v.lVal);
    case VT_BOOL: return v.boolVal ? "BOOL:True" : "BOOL:False";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR:" + Narrow(v.bstrVal, SysStringLen(v.bstrVal));
    case VT_ERROR: return v.scode == DISP_E_PARAMNOTFOUND ? "missing" : "ERROR";
    default: return "VT" + std::to_string(v.vt);
  }
}

void Record(const std::string& line) {
  std::wstring path = com_server::ModulePath();
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"ErrorObjectRecorder.calls";
  if (FILE* file = _wfopen(path.c_str(), L"ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

class Recorder final : public com_server::ComObject<Recorder, IDispatch> {
 public:
  [[nodiscard]] STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  [[nodiscard]] STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  [[nodiscard]] STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    const std::string name = Narrow(names[0], static_cast<UINT>(wcslen(names[0])));
    std::size_t i = 0;
    while (i < names_.size() && _stricmp(names_[i].c_str(), name.c_str()) != 0) ++i;
    if (i == names_.size()) names_.push_back(name);
    ids[0] = static_cast<DISPID>(i + 1);
    return S_OK;
  }
  [[nodiscard]] STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO*, UINT*) override {
    if (id < 1 || static_cast<std::size_t>(id) > names_.size() || params == nullptr) return DISP_E_MEMBERNOTFOUND;
    std::string line = (flags & DISPATCH_PROPERTYPUT) ? "put " : (flags & DISPATCH_METHOD) ? "call " : "get ";
    line += names_[static_cast<std::size_t>(id - 1)];
    for (UINT i = params->cArgs; i > 0; --i) line += " " + Describe(params->rgvarg[i - 1]);
    Record(line);
    if (result != nullptr) VariantInit(result);
    return S_OK;
  }

 private:
  std::vector<std::string> names_;
};

dovel::platform::win32::ComPtr<IUnknown> Create() { return Recorder::Create(); }

}  // namespace

const com_server::InprocClass& com_server::ServedClass() {
  static const InprocClass served{
      {kClassId, L"ErrorObject.clsErrorObject", L"ErrorObject.clsErrorObject (call recorder for tests)",
       ClassRegistration::Server::kInProcess, nullptr, L""},
      &Create};
  return served;
}
