#include "com/win32/published_type_library.h"

#include <gtest/gtest.h>

#include <iterator>
#include <span>
#include <string>

#include "com/published_identity.h"
#include "com/win32/com_client_support.h"
#include "platform/com_server/type_library.h"

namespace dovel::testing {
namespace {

using platform::com_server::FunctionDescription;
using platform::com_server::GetFunctionDescription;
using platform::com_server::GetLibraryAttributes;
using platform::com_server::GetTypeAttributes;
using platform::com_server::LibraryAttributes;
using platform::com_server::TypeAttributes;

INVOKEKIND InvokeKindOf(published::Kind kind) {
  switch (kind) {
    case published::Kind::kPropertyPut: return INVOKE_PROPERTYPUT;
    case published::Kind::kPropertyGet: return INVOKE_PROPERTYGET;
    case published::Kind::kMethod: return INVOKE_FUNC;
  }
  return INVOKE_FUNC;
}

// Names are ASCII; as narrow text they read well in a failure message.
std::string Narrow(std::u16string_view text) {
  std::string narrow;
  for (const char16_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  return narrow;
}

std::string NameOf(ITypeInfo* info, MEMBERID id) {
  Bstr name;
  EXPECT_EQ(info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr), S_OK) << std::hex << id;
  return Narrow(name.Text());
}

ComPtr<ITypeInfo> InfoOf(ITypeLib* library, std::string_view guid) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(library->GetTypeInfoOfGuid(GuidOf(guid), info.put()), S_OK) << guid;
  return info;
}

// A dual interface is found as its dispatch half; the slots are in the
// vtable half, which GetRefTypeOfImplType(-1) leads to.
ComPtr<ITypeInfo> VtableHalf(ComPtr<ITypeInfo> info) {
  TypeAttributes attributes;
  if (GetTypeAttributes(info.get(), attributes) != S_OK) {
    ADD_FAILURE() << "no type attributes";
    return nullptr;
  }
  if (attributes->typekind == TKIND_INTERFACE) return info;
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  HREFTYPE vtable = 0;
  EXPECT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable), S_OK);
  ComPtr<ITypeInfo> half;
  EXPECT_EQ(info->GetRefTypeInfo(vtable, half.put()), S_OK);
  return half;
}

void ExpectMembers(ITypeLib* library, std::string_view guid, std::span<const published::Member> members) {
  SCOPED_TRACE(std::string(guid));
  const ComPtr<ITypeInfo> info = VtableHalf(InfoOf(library, guid));
  ASSERT_TRUE(info);
  TypeAttributes attributes;
  ASSERT_EQ(GetTypeAttributes(info.get(), attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  ASSERT_EQ(attributes->cFuncs, members.size());
  for (UINT i = 0; i < members.size(); ++i) {
    const published::Member& expected = members[i];
    SCOPED_TRACE(Narrow(expected.name));
    FunctionDescription function;
    ASSERT_EQ(GetFunctionDescription(info.get(), i, function), S_OK);
    EXPECT_EQ(NameOf(info.get(), function->memid), Narrow(expected.name));
    EXPECT_EQ(function->memid, expected.dispid);
    EXPECT_EQ(function->invkind, InvokeKindOf(expected.kind));
    EXPECT_EQ(function->oVft % static_cast<SHORT>(sizeof(void*)), 0);
    EXPECT_EQ(function->oVft / static_cast<SHORT>(sizeof(void*)), expected.slot);
  }
}

void ExpectEvents(ITypeLib* library) {
  const ComPtr<ITypeInfo> info = InfoOf(library, published::kEventInterfaceGuid);
  ASSERT_TRUE(info);
  TypeAttributes attributes;
  ASSERT_EQ(GetTypeAttributes(info.get(), attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  ASSERT_EQ(attributes->cFuncs, published::kEvents.size());
  for (UINT i = 0; i < published::kEvents.size(); ++i) {
    FunctionDescription function;
    ASSERT_EQ(GetFunctionDescription(info.get(), i, function), S_OK);
    EXPECT_EQ(NameOf(info.get(), function->memid), Narrow(published::kEvents[i].name));
    EXPECT_EQ(function->memid, published::kEvents[i].dispid);
    EXPECT_EQ(function->invkind, INVOKE_FUNC);
    EXPECT_EQ(function->cParams, 0);
  }
}

void ExpectClass(ITypeLib* library) {
  const ComPtr<ITypeInfo> info = InfoOf(library, published::kClassGuid);
  ASSERT_TRUE(info);
  TypeAttributes attributes;
  ASSERT_EQ(GetTypeAttributes(info.get(), attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  ASSERT_EQ(attributes->cImplTypes, 2);
  bool found_interface = false;
  bool found_events = false;
  for (UINT i = 0; i < 2; ++i) {
    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
    HREFTYPE reference = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(i, &reference), S_OK);
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(info->GetRefTypeInfo(reference, implemented.put()), S_OK);
    TypeAttributes implemented_attributes;
    ASSERT_EQ(GetTypeAttributes(implemented.get(), implemented_attributes), S_OK);
    if (implemented_attributes->guid == GuidOf(published::kInterfaceGuid)) {
      found_interface = true;
      EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    } else if (implemented_attributes->guid == GuidOf(published::kEventInterfaceGuid)) {
      found_events = true;
      EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    }
  }
  EXPECT_TRUE(found_interface);
  EXPECT_TRUE(found_events);
}

// The flags each type of the library is published with, written from the
// identity table: the class is creatable and no application object; the
// default interface is dual, hidden, not extensible and
// automation-compatible; the event interface dispatch-only, hidden and not
// extensible. The timer interface is published like the default one.
constexpr WORD kPublishedFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                                 TYPEFLAG_FCANCREATE | TYPEFLAG_FAPPOBJECT;

struct ExpectedType {
  std::string_view guid;
  TYPEKIND kind;
  WORD flags;  // of kPublishedFlags
};

constexpr WORD kDualInterfaceFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                     TYPEFLAG_FOLEAUTOMATION;
const ExpectedType kExpectedTypes[] = {
    {published::kClassGuid, TKIND_COCLASS, TYPEFLAG_FCANCREATE},
    {published::kInterfaceGuid, TKIND_DISPATCH, kDualInterfaceFlags},
    {published::kEventInterfaceGuid, TKIND_DISPATCH, TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE},
    {published::kTimerInterfaceGuid, TKIND_DISPATCH, kDualInterfaceFlags},
};

// Every type the library holds is one of the four, with its flags.
void ExpectTypeFlags(ITypeLib* library) {
  const UINT count = library->GetTypeInfoCount();
  EXPECT_EQ(count, std::size(kExpectedTypes));
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfo(i, info.put()), S_OK);
    TypeAttributes attributes;
    ASSERT_EQ(GetTypeAttributes(info.get(), attributes), S_OK);
    const ExpectedType* expected = nullptr;
    for (const ExpectedType& type : kExpectedTypes) {
      if (attributes->guid == GuidOf(type.guid)) expected = &type;
    }
    ASSERT_NE(expected, nullptr) << "type " << i << " is none of the published ones";
    SCOPED_TRACE(std::string(expected->guid));
    EXPECT_EQ(attributes->typekind, expected->kind);
    WORD flags = attributes->wTypeFlags;
    // A dual interface is stored as two halves; automation compatibility is
    // a flag of its vtable half.
    if ((flags & TYPEFLAG_FDUAL) != 0) {
      const ComPtr<ITypeInfo> half = VtableHalf(InfoOf(library, expected->guid));
      ASSERT_TRUE(half);
      TypeAttributes half_attributes;
      ASSERT_EQ(GetTypeAttributes(half.get(), half_attributes), S_OK);
      flags |= half_attributes->wTypeFlags;
    }
    EXPECT_EQ(flags & kPublishedFlags, expected->flags) << std::hex << flags;
  }
}

}  // namespace

GUID GuidOf(std::string_view text) {
  GUID guid{};
  std::wstring wide = ToWide(text);
  EXPECT_EQ(CLSIDFromString(wide.data(), &guid), S_OK) << text;
  return guid;
}

void ExpectPublishedTypeLibrary(ITypeLib* library) {
  ASSERT_NE(library, nullptr);
  LibraryAttributes attributes;
  ASSERT_EQ(GetLibraryAttributes(library, attributes), S_OK);
  EXPECT_EQ(attributes->guid, GuidOf(published::kLibraryGuid));
  EXPECT_EQ(attributes->wMajorVerNum, published::kLibraryMajor);
  EXPECT_EQ(attributes->wMinorVerNum, published::kLibraryMinor);
  EXPECT_EQ(attributes->lcid, published::kLibraryLocale);

  Bstr name;
  Bstr help;
  ASSERT_EQ(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(name.Text()), published::kLibraryName);
  EXPECT_EQ(Narrow(help.Text()), published::kLibraryHelp);

  ExpectMembers(library, published::kInterfaceGuid, published::kQueueMembers);
  ExpectMembers(library, published::kTimerInterfaceGuid, published::kTimerMembers);
  ExpectEvents(library);
  ExpectClass(library);
  ExpectTypeFlags(library);
}

}  // namespace dovel::testing
