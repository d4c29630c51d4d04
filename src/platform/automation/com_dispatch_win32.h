#pragma once

#include <cstdint>

#include "platform/automation/dispatch.h"
#include "platform/automation/variant.h"

// The system's own declaration; naming it here keeps <windows.h> out of the
// callers of this header.
struct IDispatch;
struct tagEXCEPINFO;

namespace dovel::platform::automation {

// Late-bound calls on a COM object through its IDispatch: the member name is
// looked up with GetIDsOfNames on every call, and Invoke is used as a
// late-bound caller uses it:
// - PutProperty: DISPATCH_PROPERTYPUT, the value as the one argument, named
//   DISPID_PROPERTYPUT;
// - GetProperty: DISPATCH_PROPERTYGET without arguments;
// - Call: DISPATCH_METHOD, and DISPATCH_PROPERTYGET as well when the caller
//   takes a result, so that a property with parameters (an indexed Item, say)
//   can be read like a function; arguments go into rgvarg last first.
//
// Values travel as the automation types: Empty VT_EMPTY, Missing VT_ERROR
// holding DISP_E_PARAMNOTFOUND, int16 VT_I2, Int16Ref VT_I2|VT_BYREF pointing
// straight at the caller's variable, int32 VT_I4, double VT_R8, Date VT_DATE,
// text VT_BSTR, bool VT_BOOL (VARIANT_TRUE is -1), ByteArray a one-dimensional
// VT_ARRAY|VT_UI1 and VariantArray a one-dimensional VT_ARRAY|VT_VARIANT, both
// with their lower bound, ObjectRef VT_DISPATCH. Only objects that came from
// COM (made by WrapDispatch) can be passed to COM; a null ObjectRef passes as
// Nothing.
// Results of other types are converted where nothing is lost: VT_UI1 and
// VT_I1 become int16, VT_UI2 int32, VT_R4 double, other integers int32 when
// they fit and double otherwise, VT_CY and VT_DECIMAL double, VT_UNKNOWN an
// object if it has IDispatch; references are followed. VT_NULL and anything
// else, including arrays of other element types or of more than one
// dimension, is a type mismatch (13).
//
// Failures become error numbers, as ErrorNumberFromHResult says. Nothing here
// throws; running out of memory is error 7.
//
// Threads: on the thread of the apartment the object belongs to.

// Wraps `object` (AddRef'd; released with the wrapper). A null pointer gives
// a null ObjectRef.
[[nodiscard]] ObjectRef WrapDispatch(IDispatch* object);

// The COM object behind an object made by WrapDispatch, or nullptr for any
// other Dispatch. Not AddRef'd: valid while `object` lives.
[[nodiscard]] IDispatch* DispatchOf(const Dispatch& object);

// The error number for a failed GetIDsOfNames or Invoke:
// - DISP_E_EXCEPTION: the EXCEPINFO's wCode if not 0, else the low 16 bits of
//   its scode, else 440 (automation error); `exception` may be null. Its
//   strings are freed.
// - DISP_E_MEMBERNOTFOUND, DISP_E_UNKNOWNNAME: 438; DISP_E_BADPARAMCOUNT: 450;
//   DISP_E_TYPEMISMATCH: 13; DISP_E_OVERFLOW: 6; DISP_E_PARAMNOTOPTIONAL: 449;
//   DISP_E_NONAMEDARGS: 446; DISP_E_PARAMNOTFOUND: 448; DISP_E_BADVARTYPE:
//   458; DISP_E_BADINDEX: 9; E_OUTOFMEMORY: 7; E_INVALIDARG: 5;
//   E_NOINTERFACE: 430;
// - an HRESULT of FACILITY_CONTROL (an error raised by an automation
//   component with its own number): its low 16 bits;
// - any other failure: the HRESULT itself as a signed number, which is what a
//   late-bound caller sees for a COM error without a number of its own;
// - success: 0.
[[nodiscard]] std::int32_t ErrorNumberFromHResult(std::int32_t hresult, tagEXCEPINFO* exception = nullptr);

}  // namespace dovel::platform::automation
