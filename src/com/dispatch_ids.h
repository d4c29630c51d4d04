#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace dovel::com {

// The queue object's identity as clients bind to it: the server's ProgID,
// its type library, the GUIDs of the class and its interfaces, and every
// member's dispatch identifier and vtable slot. Compiled clients call by slot
// and by number: never change one.
//
// This header is the source. Dovel.idl (from which widl makes the type
// library), README's identity table and the version resource repeat it for
// their own readers; tests/com/identity_test.cpp holds them to it.

inline constexpr std::string_view kProgId = "Dovel.clsMsgQueue";
// The name the class key shows.
inline constexpr std::string_view kClassDescription = kProgId;

inline constexpr std::string_view kTypeLibraryName = "Dovel";
inline constexpr std::string_view kTypeLibraryHelp = "Vimra Message Queue";
struct TypeLibraryVersion {
  int major;
  int minor;
};
inline constexpr TypeLibraryVersion kTypeLibraryVersion{1, 0};
inline constexpr std::uint32_t kTypeLibraryLocale = 0x0409;  // English (United States)

inline constexpr std::string_view kClassName = "clsMsgQueue";
inline constexpr std::string_view kInterfaceName = "_clsMsgQueue";        // dual
inline constexpr std::string_view kEventInterfaceName = "__clsMsgQueue";  // dispinterface, the class's source
inline constexpr std::string_view kTimerInterfaceName = "_QueueTimer";    // dual, the timer objects'

inline constexpr std::string_view kTypeLibraryGuid = "{5D0F1E2A-8C43-4B7E-9A61-2F3C7D8E0B14}";
inline constexpr std::string_view kClassGuid = "{7A2C4E91-3B5D-4F60-8E17-C9D0A1B2E3F4}";
inline constexpr std::string_view kInterfaceGuid = "{1E9B7C35-D24A-4A8F-B6C0-5F7E3D2A9C81}";
inline constexpr std::string_view kEventInterfaceGuid = "{C3F5A7B9-6E1D-4C2B-9F08-A4D6E8B0C2D5}";
inline constexpr std::string_view kTimerInterfaceGuid = "{2B6D8F04-71A3-4C95-8E2D-B4F60A1C3E57}";

// A member of a dual interface, in its vtable order. The portable
// late-bound calls use the queue object's table too.
enum class MemberKind { kPropertyPut, kPropertyGet, kMethod };

struct MemberId {
  std::u16string_view name;
  std::int32_t dispid;
  MemberKind kind;
  int vtable_slot;  // position in the dual interface, counting IUnknown/IDispatch
};

// clang-format off
inline constexpr std::array<MemberId, 13> kMembers{{
    {u"Disconnecting",      0x6803000A, MemberKind::kPropertyPut,  7},
    {u"InactivityTimeout",  0x68030009, MemberKind::kPropertyPut,  8},
    {u"PanelEventWarning",  0x68030008, MemberKind::kPropertyPut,  9},
    {u"Unattended",         0x68030007, MemberKind::kPropertyPut, 10},
    {u"InactivityComplete", 0x60030010, MemberKind::kMethod,      11},
    {u"DiagRefreshTimer",   0x68030006, MemberKind::kPropertyGet, 12},
    {u"HeartbeatTimer",     0x68030005, MemberKind::kPropertyGet, 13},
    {u"TimeoutTimer",       0x68030004, MemberKind::kPropertyGet, 14},
    {u"WorkerTimer",        0x68030003, MemberKind::kPropertyGet, 15},
    {u"WorkQueueGUID",      0x68030002, MemberKind::kPropertyGet, 16},
    {u"CurrentMsgGUID",     0x68030001, MemberKind::kPropertyGet, 17},
    {u"LastSentMsgGUID",    0x68030000, MemberKind::kPropertyGet, 18},
    {u"UnloadQueue",        0x60030011, MemberKind::kMethod,      19},
}};

// The timer objects the four timer properties hand out.
inline constexpr std::array<MemberId, 4> kTimerMembers{{
    {u"Interval", 0x68030001, MemberKind::kPropertyGet,  7},
    {u"Interval", 0x68030001, MemberKind::kPropertyPut,  8},
    {u"Enabled",  0x68030000, MemberKind::kPropertyGet,  9},
    {u"Enabled",  0x68030000, MemberKind::kPropertyPut, 10},
}};
// clang-format on

// Events of the source interface, delivered with no arguments.
enum class QueueEvent : std::int32_t {
  SendData = 1,
  Timeout = 2,
  InactiveSession = 3,
  Heartbeat = 4,
  DiagRefresh = 5,
};

struct EventId {
  std::u16string_view name;
  QueueEvent event;
};

inline constexpr std::array<EventId, 5> kEvents{{
    {u"SendData", QueueEvent::SendData},
    {u"Timeout", QueueEvent::Timeout},
    {u"InactiveSession", QueueEvent::InactiveSession},
    {u"Heartbeat", QueueEvent::Heartbeat},
    {u"DiagRefresh", QueueEvent::DiagRefresh},
}};

}  // namespace dovel::com
