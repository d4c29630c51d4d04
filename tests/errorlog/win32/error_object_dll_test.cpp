// ErrorObject.dll as its users reach it: through COM, late-bound, by name.
#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "com/published_identity.h"
#include "platform/automation/com_dispatch_win32.h"
#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/object_factory.h"
#include "support/scoped_environment.h"

namespace dovel::testing {
namespace {

namespace automation = platform::automation;
using platform::win32::ComPtr;
using ::testing::HasSubstr;

class ErrorObjectDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    module_ = LoadLibraryW(std::filesystem::path(ERROR_OBJECT_DLL).wstring().c_str());
    ASSERT_NE(module_, nullptr);
  }
  // Stays loaded if COM still holds it; nothing more to do either way.
  void TearDown() override { static_cast<void>(FreeLibrary(module_)); }

  template <class Function>
  Function Entry(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  // A new object straight from the DLL's class factory, no registration.
  automation::ObjectRef NewObject() {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const std::string_view published_class = published::kErrorObjectClassGuid;
    std::wstring class_text(published_class.begin(), published_class.end());
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(class_text.data(), &clsid), S_OK);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(Entry<GetClassObject>("DllGetClassObject")(clsid, IID_IClassFactory, factory.put_void()), S_OK);
    if (!factory) return nullptr;
    ComPtr<IDispatch> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    return automation::WrapDispatch(object.get());
  }

  static std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  HMODULE module_ = nullptr;
};

TEST_F(ErrorObjectDll, ReportMadeLateBoundLandsInTheLogFile) {
  ScopedTempDir directory;
  ScopedEnv log_dir("DOVEL_LOG_DIR", directory.path().string());
  automation::ObjectRef logger = NewObject();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(logger->PutProperty(u"AppName", u"Comm"), std::error_code());
  EXPECT_EQ(logger->PutProperty(u"AppVersion", u"1.0.31"), std::error_code());
  EXPECT_EQ(logger->PutProperty(u"WarningLevel", std::int16_t{5}), std::error_code());
  EXPECT_EQ(logger->PutProperty(u"appErrorFile", u"Comm.err"), std::error_code());  // any letter case
  EXPECT_EQ(logger->PutProperty(u"FileSection", u"COMM"), std::error_code());

  std::int16_t level = 7;
  std::array<automation::Variant, 14> args;
  args.fill(automation::Missing{});
  args[0] = std::int32_t{13};
  args[4] = automation::Date{45000.0};
  args[5] = automation::Date{0.5};
  args[7] = u"frmMsgQueue";
  args[8] = u"tmrWorker_Timer()";
  args[13] = automation::Int16Ref{&level};  // by reference, as the reporting sites pass it
  EXPECT_EQ(logger->Call(u"Add", args, nullptr), std::error_code());
  EXPECT_EQ(logger->PutProperty(u"AddlText", u""), std::error_code());
  EXPECT_EQ(logger->Call(u"LogError", {}, nullptr), std::error_code());
  EXPECT_EQ(logger->Call(u"Clear", {}, nullptr), std::error_code());

  const std::string log = ReadAll(directory.path() / "Comm.err");
  EXPECT_THAT(log, HasSubstr("\tComm\t1.0.31\tCOMM\tfrmMsgQueue\ttmrWorker_Timer()\t13\t7"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST_F(ErrorObjectDll, FailuresReachTheCallerAsErrorNumbers) {
  automation::ObjectRef logger = NewObject();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(logger->Call(u"NoSuchMember", {}, nullptr), RuntimeError::kMemberNotFound);
  // Logging before the file is named is the component's own error 52.
  std::array<automation::Variant, 14> args;
  args.fill(automation::Missing{});
  args[0] = std::int32_t{5};
  EXPECT_EQ(ErrorNumber(logger->Call(u"Add", args, nullptr)), 13);  // a report needs its date and time
  args[4] = automation::Date{45000.0};
  args[5] = automation::Date{0.25};
  ASSERT_EQ(ErrorNumber(logger->Call(u"Add", args, nullptr)), 0);
  EXPECT_EQ(ErrorNumber(logger->Call(u"LogError", {}, nullptr)), 52);
  EXPECT_EQ(ErrorNumber(logger->PutProperty(u"AppErrorFile", u"..\\escape.err")), 380);
  automation::Variant name;
  ASSERT_EQ(ErrorNumber(logger->PutProperty(u"AppName", u"Comm")), 0);
  ASSERT_EQ(ErrorNumber(logger->GetProperty(u"appname", name)), 0);
  EXPECT_EQ(name, automation::Variant(u"Comm"));
}

TEST_F(ErrorObjectDll, SelfRegistrationMakesTheProgIdCreatable) {
  using Entry0 = HRESULT(STDAPICALLTYPE*)();
  ASSERT_EQ(Entry<Entry0>("DllRegisterServer")(), S_OK);
  automation::ObjectRef created;
  EXPECT_EQ(automation::CurrentObjectFactory().CreateObject("ErrorObject.clsErrorObject", created), std::error_code());
  EXPECT_NE(created, nullptr);
  created.reset();
  ASSERT_EQ(Entry<Entry0>("DllUnregisterServer")(), S_OK);
  EXPECT_EQ(automation::CurrentObjectFactory().CreateObject("ErrorObject.clsErrorObject", created),
            RuntimeError::kCannotCreateObject);
  EXPECT_EQ(Entry<Entry0>("DllCanUnloadNow")(), S_OK);
}

}  // namespace
}  // namespace dovel::testing
