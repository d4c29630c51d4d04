#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace dovel::com {

// The queue object's members and events with their dispatch identifiers.
// Clients bound to these numbers keep working across builds: never change
// one. The Windows type library and every late-bound caller use this table.
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

// The identity the object server registers.
inline constexpr std::string_view kProgId = "Dovel.clsMsgQueue";
inline constexpr std::string_view kTypeLibraryName = "Dovel";
inline constexpr std::string_view kTypeLibraryHelp = "Vimra Message Queue";
inline constexpr std::string_view kTypeLibraryGuid = "{5D0F1E2A-8C43-4B7E-9A61-2F3C7D8E0B14}";
inline constexpr std::string_view kClassGuid = "{7A2C4E91-3B5D-4F60-8E17-C9D0A1B2E3F4}";
inline constexpr std::string_view kInterfaceGuid = "{1E9B7C35-D24A-4A8F-B6C0-5F7E3D2A9C81}";
inline constexpr std::string_view kEventInterfaceGuid = "{C3F5A7B9-6E1D-4C2B-9F08-A4D6E8B0C2D5}";

}  // namespace dovel::com
