// A C++ client of the COM server Dovel.exe, started by COM in its own process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/queue_client.h"
#include "com/dispatch_ids.h"
#include "com/published_identity.h"
#include "com/win32/com_client_support.h"
#include "com/win32/published_type_library.h"
#include "platform/child_process/child_process.h"
#include "platform/com_server/type_library.h"
#include "platform/com_server/win32_handles.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"

namespace dovel::testing {
namespace {

constexpr DISPID kSendData = 1, kTimeout = 2, kInactiveSession = 3, kHeartbeat = 4, kDiagRefresh = 5;

class ComServerClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  static void TearDownTestSuite() { CoUninitialize(); }

  ComPtr<_clsMsgQueue> NewQueue() {
    ComPtr<_clsMsgQueue> queue;
    const HRESULT hr = CreateQueue(queue);
    EXPECT_EQ(hr, S_OK) << std::hex << hr;
    return queue;
  }

  static std::u16string Guid(_clsMsgQueue* queue, HRESULT (STDMETHODCALLTYPE _clsMsgQueue::*getter)(BSTR*)) {
    Bstr text;
    EXPECT_EQ((queue->*getter)(text.put()), S_OK);
    return text.Text();
  }

  static std::u16string WorkQueue(_clsMsgQueue* q) { return Guid(q, &_clsMsgQueue::get_WorkQueueGUID); }
  static std::u16string Current(_clsMsgQueue* q) { return Guid(q, &_clsMsgQueue::get_CurrentMsgGUID); }
  static std::u16string LastSent(_clsMsgQueue* q) { return Guid(q, &_clsMsgQueue::get_LastSentMsgGUID); }

  static ComPtr<IDispatch> Timer(_clsMsgQueue* queue, HRESULT (STDMETHODCALLTYPE _clsMsgQueue::*getter)(IDispatch**)) {
    ComPtr<IDispatch> timer;
    EXPECT_EQ((queue->*getter)(timer.put()), S_OK);
    return timer;
  }

  static client::QueueClient ClientOf(_clsMsgQueue* queue) {
    return client::QueueClient(WorkQueue(queue), Current(queue), LastSent(queue));
  }

  static void Arm(IDispatch* timer, LONG interval) {
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = interval;
    ASSERT_EQ(PutById(timer, IdOfName(timer, L"Interval"), value), S_OK);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    ASSERT_EQ(PutById(timer, IdOfName(timer, L"Enabled"), value), S_OK);
  }
};

bool IsIdentifier(const std::u16string& text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const char16_t c = text[i];
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? c != u'-' : !((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

TEST_F(ComServerClient, IdentifiersAreFixedForTheObjectsLifeAndAlikeOnEveryPath) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  const std::u16string work = WorkQueue(queue.get()), current = Current(queue.get()), last = LastSent(queue.get());
  EXPECT_TRUE(IsIdentifier(work)) << ToWide(work).size();
  EXPECT_TRUE(IsIdentifier(current));
  EXPECT_TRUE(IsIdentifier(last));
  EXPECT_EQ((std::set<std::u16string>{work, current, last}.size()), 3u);
  EXPECT_EQ(WorkQueue(queue.get()), work);

  // Late-bound, by name and by dispatch identifier, the same strings.
  ScopedVariant by_name, by_id;
  ASSERT_EQ(GetById(queue.get(), IdOfName(queue.get(), L"CurrentMsgGUID"), by_name), S_OK);
  ASSERT_EQ(GetById(queue.get(), 0x68030000, by_id), S_OK);
  ASSERT_EQ(by_name->vt, VT_BSTR);
  ASSERT_EQ(by_id->vt, VT_BSTR);
  EXPECT_EQ(ToU16(by_name->bstrVal), current);
  EXPECT_EQ(ToU16(by_id->bstrVal), last);

  EXPECT_EQ(queue->UnloadQueue(), S_OK);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);  // a second one changes nothing
  EXPECT_EQ(WorkQueue(queue.get()), work);
}

// One COM object per engine timer: every read of a timer property gives it,
// and each timer has its own.
TEST_F(ComServerClient, EveryReadOfATimerGivesTheSameObject) {
  using Getter = HRESULT (STDMETHODCALLTYPE _clsMsgQueue::*)(IDispatch**);
  const ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  std::vector<ComPtr<IUnknown>> seen;  // held, so that no address is reused
  for (const Getter getter : {&_clsMsgQueue::get_HeartbeatTimer, &_clsMsgQueue::get_WorkerTimer,
                              &_clsMsgQueue::get_TimeoutTimer, &_clsMsgQueue::get_DiagRefreshTimer}) {
    ComPtr<IDispatch> one, two;
    ASSERT_EQ((queue.get()->*getter)(one.put()), S_OK);
    ASSERT_EQ((queue.get()->*getter)(two.put()), S_OK);
    ASSERT_TRUE(one && two);
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(one->QueryInterface(IID_IUnknown, first.put_void()), S_OK);
    ASSERT_EQ(two->QueryInterface(IID_IUnknown, second.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    for (const ComPtr<IUnknown>& other : seen) EXPECT_NE(other.get(), first.get());
    seen.push_back(std::move(first));
  }
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComServerClient, TypeLibraryGivesEveryMemberItsFixedDispatchIdentifier) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  for (const com::MemberId& member : com::kMembers) {
    const std::wstring name(member.name.begin(), member.name.end());
    EXPECT_EQ(IdOfName(queue.get(), name.c_str()), member.dispid) << std::string(name.begin(), name.end());
  }
  // Names are matched without regard to case, as late-bound callers expect.
  EXPECT_EQ(IdOfName(queue.get(), L"workqueueguid"), 0x68030002);
  EXPECT_EQ(IdOfName(queue.get(), L"NoSuchMember"), DISPID_UNKNOWN);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(queue->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  platform::com_server::TypeAttributes attributes;
  ASSERT_EQ(platform::com_server::GetTypeAttributes(info.get(), attributes), S_OK);
  EXPECT_EQ(attributes->guid, IID__clsMsgQueue);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

// What /RegServer left in the registry is what clients were given: the
// ProgID names the published class, whose key leads to the published
// library, and that library (as the system finds it) states every member.
TEST_F(ComServerClient, RegistrationLeadsToThePublishedClassAndTypeLibrary) {
  const std::wstring prog_id = ToWide(published::kProgId);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(prog_id.c_str(), &clsid), S_OK);
  EXPECT_EQ(clsid, GuidOf(published::kClassGuid));
  LPOLESTR named = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(clsid, &named), S_OK);
  const std::unique_ptr<OLECHAR, decltype(&CoTaskMemFree)> owned(named, &CoTaskMemFree);
  EXPECT_EQ(std::wstring(owned.get()), prog_id);

  const auto class_value = [&](const wchar_t* subkey) {
    const std::wstring path = L"CLSID\\" + ToWide(published::kClassGuid) + L"\\" + subkey;
    platform::win32::RegistryKeyHandle key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()), ERROR_SUCCESS) << subkey;
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS)
        << subkey;
    return std::wstring(value);
  };
  EXPECT_EQ(class_value(L"ProgID"), prog_id);
  EXPECT_EQ(class_value(L"TypeLib"), ToWide(published::kLibraryGuid));
  EXPECT_EQ(class_value(L"Version"),
            std::to_wstring(published::kLibraryMajor) + L"." + std::to_wstring(published::kLibraryMinor));

  ComPtr<ITypeLib> registered;
  ASSERT_EQ(LoadRegTypeLib(GuidOf(published::kLibraryGuid), published::kLibraryMajor, published::kLibraryMinor,
                           published::kLibraryLocale, registered.put()),
            S_OK);
  ExpectPublishedTypeLibrary(registered.get());
}

TEST_F(ComServerClient, SwitchesAndMethodsSucceedEarlyAndLateBound) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  EXPECT_EQ(queue->put_Disconnecting(VARIANT_TRUE), S_OK);
  EXPECT_EQ(queue->put_Disconnecting(VARIANT_FALSE), S_OK);
  EXPECT_EQ(queue->put_InactivityTimeout(30), S_OK);
  EXPECT_EQ(queue->put_PanelEventWarning(VARIANT_FALSE), S_OK);
  EXPECT_EQ(queue->put_Unattended(VARIANT_FALSE), S_OK);
  EXPECT_EQ(queue->InactivityComplete(), S_OK);

  VARIANT value;
  value.vt = VT_I2;
  value.iVal = 5;  // any non-zero value counts as True
  EXPECT_EQ(PutById(queue.get(), 0x68030007, value), S_OK);
  EXPECT_EQ(PutById(queue.get(), IdOfName(queue.get(), L"InactivityTimeout"), value), S_OK);
  EXPECT_EQ(CallById(queue.get(), 0x60030010), S_OK);
  // The switches have no get.
  ScopedVariant result;
  EXPECT_NE(GetById(queue.get(), 0x6803000A, result), S_OK);
  EXPECT_EQ(CallById(queue.get(), IdOfName(queue.get(), L"UnloadQueue")), S_OK);
}

TEST_F(ComServerClient, TimerPropertiesHandOutTheLiveTimers) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  ComPtr<IDispatch> worker = Timer(queue.get(), &_clsMsgQueue::get_WorkerTimer);
  ASSERT_TRUE(worker);
  ScopedVariant value;
  ASSERT_EQ(GetById(worker.get(), IdOfName(worker.get(), L"Interval"), value), S_OK);
  EXPECT_EQ(value->vt, VT_I4);
  EXPECT_GT(value->lVal, 0);  // the poll rate from the settings
  ASSERT_EQ(GetById(worker.get(), IdOfName(worker.get(), L"Enabled"), value), S_OK);
  EXPECT_EQ(value->vt, VT_BOOL);
  EXPECT_EQ(value->boolVal, VARIANT_TRUE);

  for (auto getter :
       {&_clsMsgQueue::get_HeartbeatTimer, &_clsMsgQueue::get_DiagRefreshTimer, &_clsMsgQueue::get_TimeoutTimer}) {
    ComPtr<IDispatch> timer = Timer(queue.get(), getter);
    ASSERT_TRUE(timer);
    ASSERT_EQ(GetById(timer.get(), IdOfName(timer.get(), L"Interval"), value), S_OK);
    EXPECT_EQ(value->lVal, 0);
    ASSERT_EQ(GetById(timer.get(), IdOfName(timer.get(), L"Enabled"), value), S_OK);
    EXPECT_EQ(value->boolVal, VARIANT_FALSE);
  }

  // A change through one object is what the next object shows: one timer.
  Arm(Timer(queue.get(), &_clsMsgQueue::get_HeartbeatTimer).get(), 60000);
  ComPtr<IDispatch> again = Timer(queue.get(), &_clsMsgQueue::get_HeartbeatTimer);
  ASSERT_EQ(GetById(again.get(), IdOfName(again.get(), L"Interval"), value), S_OK);
  EXPECT_EQ(value->lVal, 60000);

  // Unloading stops the engine's timers.
  ASSERT_EQ(queue->UnloadQueue(), S_OK);
  ASSERT_EQ(GetById(worker.get(), IdOfName(worker.get(), L"Enabled"), value), S_OK);
  EXPECT_EQ(value->boolVal, VARIANT_FALSE);
}

TEST_F(ComServerClient, TimerEventsReachEverySinkWithoutArguments) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  Listener typed(queue.get());
  Listener plain(queue.get(), /*only_idispatch=*/true);  // reached through the IDispatch fallback
  ASSERT_EQ(typed.status, S_OK);
  ASSERT_EQ(plain.status, S_OK);
  EXPECT_NE(typed.cookie, plain.cookie);

  Arm(Timer(queue.get(), &_clsMsgQueue::get_HeartbeatTimer).get(), 100);
  Arm(Timer(queue.get(), &_clsMsgQueue::get_DiagRefreshTimer).get(), 100);
  Arm(Timer(queue.get(), &_clsMsgQueue::get_TimeoutTimer).get(), 100);
  EXPECT_TRUE(PumpUntil([&] {
    return plain->Count(kHeartbeat) >= 2 && plain->Count(kDiagRefresh) >= 2 && plain->Count(kTimeout) >= 1 &&
           typed->Count(kHeartbeat) >= 2 && typed->Count(kDiagRefresh) >= 2;
  }));
  // The time-out timer disarms itself.
  EXPECT_EQ(typed->Count(kTimeout), 1);
  ScopedVariant enabled;
  ComPtr<IDispatch> timeout = Timer(queue.get(), &_clsMsgQueue::get_TimeoutTimer);
  ASSERT_EQ(GetById(timeout.get(), IdOfName(timeout.get(), L"Enabled"), enabled), S_OK);
  EXPECT_EQ(enabled->boolVal, VARIANT_FALSE);
  for (UINT count : typed->argument_counts) EXPECT_EQ(count, 0u);

  // Disconnecting holds back the heartbeat; a disconnected sink hears nothing.
  const DWORD plain_cookie = plain.cookie;
  EXPECT_EQ(plain.Disconnect(), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(queue.As(container), S_OK);
  ASSERT_EQ(container->FindConnectionPoint(DIID___clsMsgQueue, point.put()), S_OK);
  EXPECT_EQ(point->Unadvise(plain_cookie), CONNECT_E_NOCONNECTION);
  const auto plain_seen = plain->events.size();
  ASSERT_EQ(queue->put_Disconnecting(VARIANT_TRUE), S_OK);
  const int heartbeats = typed->Count(kHeartbeat);
  // Wait for a marker that still runs while disconnected: a message's SendData.
  client::QueueClient client = ClientOf(queue.get());
  ASSERT_TRUE(client.ok());
  ASSERT_EQ(client.Post(u"Marker").error, std::error_code());
  EXPECT_TRUE(PumpUntil([&] { return typed->Count(kSendData) == 1; }));
  EXPECT_EQ(plain->events.size(), plain_seen);
  // Heartbeats stop once the switch is in (one may have been under way).
  EXPECT_LE(typed->Count(kHeartbeat), heartbeats + 1);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComServerClient, MessageLinkedInSharedMemoryComesBackThroughCurrentMsgGuid) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  Listener sink(queue.get());
  ASSERT_EQ(sink.status, S_OK);
  client::QueueClient client = ClientOf(queue.get());
  ASSERT_TRUE(client.ok());
  const auto posted = client.Post(u"Hello", false, {1, 2, 3});
  ASSERT_EQ(posted.error, std::error_code());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count(kSendData) == 1; }));

  // The event says nothing; the message is found through CurrentMsgGUID.
  store::clsMessages current;
  ASSERT_EQ(current.Load(Current(queue.get())), 0);
  EXPECT_EQ(current.FirstMsgGUID(), posted.value.view());
  store::clsMessage message;
  ASSERT_EQ(message.Load(current.FirstMsgGUID()), 0);
  EXPECT_EQ(message.Name(), u"Hello");
  EXPECT_EQ(message.HeadGUID(), Current(queue.get()));
  EXPECT_EQ(client.TakeCurrent().value, u"Hello");
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComServerClient, UnloadQueueInsideSendDataStopsTheEngine) {
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  Listener sink(queue.get());
  ASSERT_EQ(sink.status, S_OK);
  HRESULT unload_result = E_FAIL;
  sink->on_event = [&](DISPID id) {
    if (id == kSendData) unload_result = queue->UnloadQueue();
  };
  client::QueueClient client = ClientOf(queue.get());
  ASSERT_TRUE(client.ok());
  ASSERT_EQ(client.Post(u"First").error, std::error_code());
  ASSERT_EQ(client.Post(u"Second").error, std::error_code());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count(kSendData) == 1; }));
  EXPECT_EQ(unload_result, S_OK);

  // The engine is stopped: its worker is off and the second message stays.
  ComPtr<IDispatch> worker = Timer(queue.get(), &_clsMsgQueue::get_WorkerTimer);
  ScopedVariant enabled;
  ASSERT_EQ(GetById(worker.get(), IdOfName(worker.get(), L"Enabled"), enabled), S_OK);
  EXPECT_EQ(enabled->boolVal, VARIANT_FALSE);
  EXPECT_EQ(client.Queued().value, 1u);
  EXPECT_EQ(queue->UnloadQueue(), S_OK);
}

TEST_F(ComServerClient, TwoObjectsHaveTwoEnginesAndSixIdentifiers) {
  ComPtr<_clsMsgQueue> first = NewQueue(), second = NewQueue();
  ASSERT_TRUE(first && second);
  const std::set<std::u16string> identifiers{WorkQueue(first.get()),  Current(first.get()),  LastSent(first.get()),
                                             WorkQueue(second.get()), Current(second.get()), LastSent(second.get())};
  EXPECT_EQ(identifiers.size(), 6u);

  Listener first_sink(first.get()), second_sink(second.get());
  ASSERT_EQ(first_sink.status, S_OK);
  ASSERT_EQ(second_sink.status, S_OK);
  Arm(Timer(first.get(), &_clsMsgQueue::get_HeartbeatTimer).get(), 100);
  EXPECT_TRUE(PumpUntil([&] { return first_sink->Count(kHeartbeat) >= 3; }));
  EXPECT_EQ(second_sink->events.size(), 0u);  // the second one's heartbeat was never armed
  EXPECT_EQ(first->UnloadQueue(), S_OK);
  EXPECT_EQ(second->UnloadQueue(), S_OK);
}

// The lines the recording error-logging component wrote, one per call.
std::vector<std::string> RecordedCalls() {
  std::vector<std::string> lines;
  std::ifstream in(std::filesystem::path(ERROR_CALLS_FILE));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

const std::vector<std::string> kStartUpCalls{"put AppName BSTR:Dovel", "put AppVersion BSTR:1.0.1",
                                             "put WarningLevel I2:5", "put AppErrorFile BSTR:Comm.err",
                                             "put FileSection BSTR:COMM"};

TEST_F(ComServerClient, ErrorObjectIsSetUpAndGetsTheStandardReport) {
  std::filesystem::remove(std::filesystem::path(ERROR_CALLS_FILE));
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  const std::vector<std::string> start = RecordedCalls();
  ASSERT_GE(start.size(), kStartUpCalls.size());
  EXPECT_EQ(std::vector<std::string>(start.begin(), start.begin() + 5), kStartUpCalls);

  // A work queue whose first message does not exist: the worker's load of it
  // fails and is reported at every tick until the link is mended.
  store::clsMessages work;
  ASSERT_EQ(work.Load(WorkQueue(queue.get())), 0);
  work.FirstMsgGUID(u"{00000000-0000-0000-0000-0000000000AB}");
  EXPECT_TRUE(PumpUntil([] { return Contains(RecordedCalls(), "call Clear"); }));
  work.FirstMsgGUID(WorkQueue(queue.get()));
  EXPECT_EQ(queue->UnloadQueue(), S_OK);

  const std::vector<std::string> calls = RecordedCalls();
  const auto add =
      std::find_if(calls.begin(), calls.end(), [](const std::string& l) { return l.rfind("call Add ", 0) == 0; });
  ASSERT_NE(add, calls.end());
  // Number, date, time, module, procedure, the level by reference; the rest
  // left out. Then the remark, the log, the reset.
  EXPECT_EQ(*add,
            "call Add I4:2 missing missing missing DATE DATE missing BSTR:clsMessage BSTR:Load() "
            "missing missing missing missing I2&:5");
  ASSERT_GE(calls.end() - add, 4);
  EXPECT_EQ(*(add + 1), "put AddlText BSTR:");
  EXPECT_EQ(*(add + 2), "call LogError");
  EXPECT_EQ(*(add + 3), "call Clear");
}

// A typo in a setting: the new object's error log reports it, the queue
// runs on the default, and the stored text stays for the administrator.
TEST_F(ComServerClient, AMalformedSettingIsReportedAndItsDefaultUsed) {
  ComPtr<_clsMsgQueue> first = NewQueue();
  ASSERT_TRUE(first);
  platform::win32::RegistryKeyHandle key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Ostrel\\Vimra\\Communications", key.put()), ERROR_SUCCESS);
  const char bad[] = "abc";
  ASSERT_EQ(RegSetValueExA(key.get(), "StandardPollRate", 0, REG_SZ, reinterpret_cast<const BYTE*>(bad), sizeof bad),
            ERROR_SUCCESS);
  std::filesystem::remove(std::filesystem::path(ERROR_CALLS_FILE));

  // Same server, same thread: the second start-up re-reads the settings.
  ComPtr<_clsMsgQueue> second = NewQueue();
  char stored[16] = {};
  DWORD size = sizeof stored;
  EXPECT_EQ(RegQueryValueExA(key.get(), "StandardPollRate", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(stored, "abc") << "the administrator's text was replaced";
  const char good[] = "500";
  EXPECT_EQ(RegSetValueExA(key.get(), "StandardPollRate", 0, REG_SZ, reinterpret_cast<const BYTE*>(good), sizeof good),
            ERROR_SUCCESS);
  ASSERT_TRUE(second);  // creation succeeds in any case

  ComPtr<IDispatch> worker = Timer(second.get(), &_clsMsgQueue::get_WorkerTimer);
  ScopedVariant interval;
  if (worker && GetById(worker.get(), IdOfName(worker.get(), L"Interval"), interval) == S_OK) {
    EXPECT_EQ(interval->lVal, 500) << "the queue must run on the default";
  } else {
    ADD_FAILURE() << "no worker timer";
  }

  const std::vector<std::string> calls = RecordedCalls();
  EXPECT_EQ(first->UnloadQueue(), S_OK);
  EXPECT_EQ(second->UnloadQueue(), S_OK);
  ASSERT_EQ(calls.size(), 8u) << (calls.empty() ? "" : calls.back());
  EXPECT_EQ(calls[0],
            "call Add I4:13 missing missing missing DATE DATE missing BSTR:modGlobals "
            "BSTR:InitApplicationVariables() missing missing missing missing I2:10");
  EXPECT_EQ(calls[1], "put AddlText BSTR:");
  EXPECT_EQ(calls[2], "call LogError");  // and no Clear
  EXPECT_EQ(calls[3].rfind("put AppName ", 0), 0u) << calls[3];
  EXPECT_EQ(calls[7], "put FileSection BSTR:COMM");
}

// Runs last (by name order it need not; it only needs every object of the
// earlier tests released, which each of them does).
TEST_F(ComServerClient, ServerProcessEndsAfterTheLastObjectIsReleased) {
  {
    ComPtr<_clsMsgQueue> queue = NewQueue();
    ASSERT_TRUE(queue);
    EXPECT_TRUE(ProcessRunning(L"Dovel.exe"));
    EXPECT_EQ(queue->UnloadQueue(), S_OK);
  }
  EXPECT_TRUE(PumpUntil([] { return !ProcessRunning(L"Dovel.exe"); }));
}

// After the tests above, which need the server to end: this one leaves an
// object of the killed client in it.
TEST_F(ComServerClient, ServerOutlivesAKilledClientAndServesTheOthers) {
  {
    platform::ChildProcess client({DYING_CLIENT_PATH});
    ASSERT_EQ(client.ReadLine(), "ready");
  }  // killed here, its sink still connected
  // The server's heartbeats to the dead sink now fail; it drops the sink and
  // goes on serving everyone else.
  ComPtr<_clsMsgQueue> queue = NewQueue();
  ASSERT_TRUE(queue);
  {
    Listener sink(queue.get());
    ASSERT_EQ(sink.status, S_OK);
    Arm(Timer(queue.get(), &_clsMsgQueue::get_HeartbeatTimer).get(), 100);
    EXPECT_TRUE(PumpUntil([&] { return sink->Count(kHeartbeat) >= 5; }));
    EXPECT_TRUE(ProcessRunning(L"Dovel.exe"));
    EXPECT_EQ(queue->UnloadQueue(), S_OK);
  }
  queue.reset();
  // The dead client's object was never unloaded, so the server stays; a test
  // leaves no process behind.
  EXPECT_EQ(EndProcesses(L"Dovel.exe"), 1);
}

}  // namespace
}  // namespace dovel::testing
