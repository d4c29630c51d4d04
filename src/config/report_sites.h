#pragma once

#include <array>
#include <string_view>

namespace dovel::config {

// What a report passes as its level (the 14th argument of Add).
enum class ReportLevel {
  kWarningLevelByRef,  // a reference to the thread's g_iWarningLevel
  kTenByValue,         // the 16-bit integer 10, by value
};

// One procedure that traps and reports its errors, with the literals that
// name it in the error log.
struct ReportSite {
  std::u16string_view module;
  std::u16string_view procedure;
  bool calls_clear;  // the report ends with Clear
  ReportLevel level;
  bool sets_result_code;  // the handler first makes the error number the result
};

namespace sites {
using enum ReportLevel;
// clang-format off
inline constexpr ReportSite kFormLoad               {u"frmMsgQueue", u"Form_Load()",               true,  kWarningLevelByRef, false};
inline constexpr ReportSite kGetGuid                {u"frmMsgQueue", u"GetGUID()",                 false, kWarningLevelByRef, true};
inline constexpr ReportSite kGuidString             {u"frmMsgQueue", u"GuidString()",              false, kWarningLevelByRef, true};
inline constexpr ReportSite kWorkerTimer            {u"frmMsgQueue", u"tmrWorker_Timer()",         true,  kWarningLevelByRef, false};
inline constexpr ReportSite kTimeOutTimer           {u"frmMsgQueue", u"tmrTimeOut_Timer()",        true,  kWarningLevelByRef, false};
inline constexpr ReportSite kHeartBeatTimer         {u"frmMsgQueue", u"tmrHeartBeat_Timer()",      true,  kWarningLevelByRef, false};
inline constexpr ReportSite kDiagRefreshTimer       {u"frmMsgQueue", u"tmrDiagRefresh_Timer()",    true,  kWarningLevelByRef, false};
inline constexpr ReportSite kInactivityComplete     {u"frmMsgQueue", u"InactivityComplete()",      true,  kWarningLevelByRef, false};
inline constexpr ReportSite kMessageCreate          {u"clsMessage",  u"Create()",                  true,  kWarningLevelByRef, true};
inline constexpr ReportSite kMessageLoad            {u"clsMessage",  u"Load()",                    true,  kWarningLevelByRef, true};
inline constexpr ReportSite kMessageNextMessage     {u"clsMessage",  u"NextMessage[Get]",          true,  kWarningLevelByRef, false};
inline constexpr ReportSite kMessagesCreate         {u"clsMessages", u"Create()",                  true,  kWarningLevelByRef, true};
inline constexpr ReportSite kMessagesLoad           {u"clsMessages", u"Load()",                    true,  kWarningLevelByRef, true};
inline constexpr ReportSite kMessagesFirstMsg       {u"clsMessages", u"FirstMsg[Get]",             true,  kWarningLevelByRef, false};
inline constexpr ReportSite kQueueClassInitialize   {u"clsMsgQueue", u"Class_Initialize()",        true,  kWarningLevelByRef, false};
inline constexpr ReportSite kInitApplicationVariables{u"modGlobals", u"InitApplicationVariables()", false, kTenByValue,       false};
// clang-format on

// Every reporting site of the system; no procedure outside this list reports.
inline constexpr std::array kAll{
    &kFormLoad,      &kGetGuid,          &kGuidString,           &kWorkerTimer,
    &kTimeOutTimer,  &kHeartBeatTimer,   &kDiagRefreshTimer,     &kInactivityComplete,
    &kMessageCreate, &kMessageLoad,      &kMessageNextMessage,   &kMessagesCreate,
    &kMessagesLoad,  &kMessagesFirstMsg, &kQueueClassInitialize, &kInitApplicationVariables,
};
}  // namespace sites

}  // namespace dovel::config
