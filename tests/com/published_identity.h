#pragma once

// The identity of the queue object's server as published to its clients,
// written out here by hand and never read from the code's own table: a
// change there cannot carry these values along with it.

#include <array>
#include <cstdint>
#include <string_view>

namespace dovel::testing::published {

inline constexpr std::string_view kProgId = "Dovel.clsMsgQueue";
inline constexpr std::string_view kLibraryName = "Dovel";
inline constexpr std::string_view kLibraryHelp = "Vimra Message Queue";
inline constexpr int kLibraryMajor = 1;
inline constexpr int kLibraryMinor = 0;
inline constexpr std::uint32_t kLibraryLocale = 0x0409;

inline constexpr std::string_view kLibraryGuid = "{5D0F1E2A-8C43-4B7E-9A61-2F3C7D8E0B14}";
inline constexpr std::string_view kClassGuid = "{7A2C4E91-3B5D-4F60-8E17-C9D0A1B2E3F4}";
inline constexpr std::string_view kInterfaceGuid = "{1E9B7C35-D24A-4A8F-B6C0-5F7E3D2A9C81}";
inline constexpr std::string_view kEventInterfaceGuid = "{C3F5A7B9-6E1D-4C2B-9F08-A4D6E8B0C2D5}";
inline constexpr std::string_view kTimerInterfaceGuid = "{2B6D8F04-71A3-4C95-8E2D-B4F60A1C3E57}";
inline constexpr std::string_view kErrorObjectClassGuid = "{3F8E2C71-5A94-4D0B-B6E3-91C7A2D4F058}";

enum class Kind { kPropertyPut, kPropertyGet, kMethod };

struct Member {
  int slot;  // IUnknown and IDispatch take slots 0 to 6
  std::u16string_view name;
  Kind kind;
  std::int32_t dispid;
};

// _clsMsgQueue
// clang-format off
inline constexpr std::array<Member, 13> kQueueMembers{{
    { 7, u"Disconnecting",      Kind::kPropertyPut, 0x6803000A},
    { 8, u"InactivityTimeout",  Kind::kPropertyPut, 0x68030009},
    { 9, u"PanelEventWarning",  Kind::kPropertyPut, 0x68030008},
    {10, u"Unattended",         Kind::kPropertyPut, 0x68030007},
    {11, u"InactivityComplete", Kind::kMethod,      0x60030010},
    {12, u"DiagRefreshTimer",   Kind::kPropertyGet, 0x68030006},
    {13, u"HeartbeatTimer",     Kind::kPropertyGet, 0x68030005},
    {14, u"TimeoutTimer",       Kind::kPropertyGet, 0x68030004},
    {15, u"WorkerTimer",        Kind::kPropertyGet, 0x68030003},
    {16, u"WorkQueueGUID",      Kind::kPropertyGet, 0x68030002},
    {17, u"CurrentMsgGUID",     Kind::kPropertyGet, 0x68030001},
    {18, u"LastSentMsgGUID",    Kind::kPropertyGet, 0x68030000},
    {19, u"UnloadQueue",        Kind::kMethod,      0x60030011},
}};

// _QueueTimer
inline constexpr std::array<Member, 4> kTimerMembers{{
    { 7, u"Interval", Kind::kPropertyGet, 0x68030001},
    { 8, u"Interval", Kind::kPropertyPut, 0x68030001},
    { 9, u"Enabled",  Kind::kPropertyGet, 0x68030000},
    {10, u"Enabled",  Kind::kPropertyPut, 0x68030000},
}};
// clang-format on

struct Event {
  std::u16string_view name;
  std::int32_t dispid;
};

// __clsMsgQueue, in declaration order.
inline constexpr std::array<Event, 5> kEvents{{
    {u"SendData", 1},
    {u"Timeout", 2},
    {u"InactiveSession", 3},
    {u"Heartbeat", 4},
    {u"DiagRefresh", 5},
}};

}  // namespace dovel::testing::published
