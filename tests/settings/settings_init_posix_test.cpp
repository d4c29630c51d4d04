#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/mod_globals.h"
#include "platform/automation/object_factory.h"
#include "platform/clock/settable_clock.h"
#include "platform/process/settable_process_info.h"
#include "platform/registry/registry_test_support.h"
#include "platform/registry/sqlite_registry.h"
#include "support/recording_error_object.h"

namespace dovel {
namespace {

namespace automation = platform::automation;
using platform::kHkeyLocalMachine;
using platform::reg_type::kDword;
using platform::reg_type::kSz;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ReadStored;
using testing::RecordingErrorObject;
using testing::RunTogether;
using testing::WriteStored;

constexpr const char* kComm = "Software\\Ostrel\\Vimra\\Communications";
constexpr const char* kSetup = "Software\\Ostrel\\Vimra\\Setup";
constexpr const char* kProgId = "ErrorObject.clsErrorObject";

class InitApplicationVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.ok());
    classes_.Register(kProgId, [this] {
      auto made = std::make_shared<RecordingErrorObject>();
      for (const auto& [member, number] : failing_) made->FailMember(member, number);
      created_.push_back(made);
      return made;
    });
    ResetGlobals();
  }
  void TearDown() override { ResetGlobals(); }

  static void ResetGlobals() {
    g_iStandardPollRate = 0;
    g_iWarningLevel = 0;
    g_oErrorObject.reset();
  }

  std::string Stored(const char* key, const char* name) {
    return ReadStored(store_, kHkeyLocalMachine, key, name).bytes;
  }
  void Store(const char* key, const char* name, std::string_view bytes) {
    ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, key, name, kSz, bytes), std::error_code());
  }

  testing::TempRegistry temp_;
  platform::SqliteRegistry store_;
  automation::ClassTable classes_;
  platform::ScopedOverride<automation::ObjectFactory> use_classes_{classes_};
  platform::SettableProcessInfo process_{"Comm", {1, 0, 0, 31}};
  platform::ScopedOverride<platform::ProcessInfo> use_process_{process_};
  platform::SettableClock clock_;
  platform::ScopedOverride<platform::Clock> use_clock_{clock_};
  std::vector<std::shared_ptr<RecordingErrorObject>> created_;
  std::vector<std::pair<std::u16string, std::int32_t>> failing_;
};

TEST_F(InitApplicationVariablesTest, AnEmptyStoreGetsTheDefaultsWrittenBack) {
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  const auto poll = ReadStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate");
  EXPECT_EQ(poll.type, kSz);
  EXPECT_EQ(poll.bytes, std::string("500\0", 4));
  const auto level = ReadStored(store_, kHkeyLocalMachine, kSetup, "WarningLevel");
  EXPECT_EQ(level.type, kSz);
  EXPECT_EQ(level.bytes, std::string("5\0", 2));

  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(g_oErrorObject, created_[0]);
  const auto& calls = created_[0]->calls();
  ASSERT_EQ(created_[0]->Members(), (std::vector<std::u16string>{u"AppName=", u"AppVersion=", u"WarningLevel=",
                                                                 u"AppErrorFile=", u"FileSection="}));
  EXPECT_EQ(calls[0].args[0], automation::Variant(std::u16string(u"Comm")));
  EXPECT_EQ(calls[1].args[0], automation::Variant(std::u16string(u"1.0.31")));
  EXPECT_EQ(calls[2].args[0], automation::Variant(std::int16_t{5})) << "a 16-bit integer by value";
  EXPECT_EQ(calls[3].args[0], automation::Variant(std::u16string(u"Comm.err")));
  EXPECT_EQ(calls[4].args[0], automation::Variant(std::u16string(u"COMM")));
}

TEST_F(InitApplicationVariablesTest, MinusOneAndNonTextValuesAreReplacedByTheDefaults) {
  Store(kComm, "StandardPollRate", std::string_view("-1\0", 3));
  const std::uint32_t dword = 250;
  ASSERT_EQ(WriteStored(store_, kHkeyLocalMachine, kSetup, "WarningLevel", kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            std::error_code());
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(Stored(kComm, "StandardPollRate"), std::string("500\0", 4));
  const auto level = ReadStored(store_, kHkeyLocalMachine, kSetup, "WarningLevel");
  EXPECT_EQ(level.type, kSz);
  EXPECT_EQ(level.bytes, std::string("5\0", 2));
}

struct Accepted {
  const char* stored;
  std::int16_t value;
};

class AcceptedNumbers : public InitApplicationVariablesTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(AcceptedNumbers, AreConvertedAndLeftAsStored) {
  Store(kComm, "StandardPollRate", GetParam().stored);
  Store(kSetup, "WarningLevel", GetParam().stored);
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, GetParam().value);
  EXPECT_EQ(g_iWarningLevel, GetParam().value);
  EXPECT_EQ(Stored(kComm, "StandardPollRate"), GetParam().stored);
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(created_[0]->calls().at(2).args[0], automation::Variant(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(Grammar, AcceptedNumbers,
                         ::testing::Values(Accepted{"  250  ", 250}, Accepted{"0", 0}, Accepted{"2.5", 2},
                                           Accepted{"3.5", 4}, Accepted{"\t7\t", 7}, Accepted{"+12", 12},
                                           Accepted{"1e2", 100}, Accepted{"-32768", -32768}, Accepted{"32767", 32767},
                                           Accepted{"-7.5", -8}));

struct Rejected {
  std::string stored;
  std::int32_t error;
};

// Names the case by its text, so that test names stay the same from run to run.
void PrintTo(const Rejected& rejected, std::ostream* out) {
  *out << ::testing::PrintToString(rejected.stored) << " gives " << rejected.error;
}

class RejectedNumbers : public InitApplicationVariablesTest, public ::testing::WithParamInterface<Rejected> {};

// A typo must neither silence the queue (a poll rate of 0 dispatches
// nothing) nor be overwritten: the administrator sees their own text in the
// report and in the store, and mends it.
TEST_P(RejectedNumbers, AreReportedAndTheDefaultIsUsedWhileTheTextStays) {
  Store(kComm, "StandardPollRate", GetParam().stored);
  Store(kSetup, "WarningLevel", GetParam().stored);
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(Stored(kComm, "StandardPollRate"), GetParam().stored) << "nothing written back";
  EXPECT_EQ(Stored(kSetup, "WarningLevel"), GetParam().stored) << "nothing written back";

  ASSERT_EQ(created_.size(), 1u) << "the error log exists before the settings are converted";
  EXPECT_EQ(g_oErrorObject, created_[0]);
  EXPECT_EQ(created_[0]->Members(), (std::vector<std::u16string>{u"Add", u"AddlText=", u"LogError", u"Add",
                                                                 u"AddlText=", u"LogError", u"AppName=", u"AppVersion=",
                                                                 u"WarningLevel=", u"AppErrorFile=", u"FileSection="}));
  for (const auto& add : created_[0]->Reports()) {
    EXPECT_EQ(add.args.at(0), automation::Variant(GetParam().error));
    EXPECT_EQ(add.args.at(7), automation::Variant(std::u16string(u"modGlobals")));
    EXPECT_EQ(add.args.at(8), automation::Variant(std::u16string(u"InitApplicationVariables()")));
    EXPECT_EQ(add.args.at(13), automation::Variant(std::int16_t{10}));
  }
  EXPECT_EQ(created_[0]->calls().at(8).args[0], automation::Variant(std::int16_t{5}));
}

INSTANTIATE_TEST_SUITE_P(Grammar, RejectedNumbers,
                         ::testing::Values(Rejected{"40000", 6}, Rejected{"32768", 6}, Rejected{"-32769", 6},
                                           Rejected{"abc", 13}, Rejected{"", 13}, Rejected{std::string("\0", 1), 13},
                                           Rejected{"1,5", 13}, Rejected{"0x10", 13}, Rejected{"5 5", 13},
                                           Rejected{".", 13}, Rejected{"500ms", 13}));

TEST_F(InitApplicationVariablesTest, OneBadSettingLeavesTheOtherAsStored) {
  Store(kComm, "StandardPollRate", "250");
  Store(kSetup, "WarningLevel", "high");
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 250);
  EXPECT_EQ(g_iWarningLevel, 5);
  ASSERT_EQ(created_.size(), 1u);
  ASSERT_EQ(created_[0]->Reports().size(), 1u);

  created_.clear();
  Store(kComm, "StandardPollRate", "fast");
  Store(kSetup, "WarningLevel", "3");
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 3) << "the step after a bad setting still runs";
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(created_[0]->Reports().size(), 1u);
}

// Forwards to a real store, but its reads fail the way a busy, locked or
// failing store's do, while its writes still go through.
class UnreadableRegistry final : public platform::Registry {
 public:
  UnreadableRegistry(platform::Registry& store, std::error_code failure) : store_(store), failure_(failure) {}
  std::error_code OpenKey(platform::RegistryKey root, std::string_view sub_key, platform::RegistryKey& key) override {
    return store_.OpenKey(root, sub_key, key);
  }
  std::error_code CreateKey(platform::RegistryKey root, std::string_view sub_key, platform::RegistryKey& key) override {
    return store_.CreateKey(root, sub_key, key);
  }
  std::error_code QueryValue(platform::RegistryKey, std::string_view, std::uint32_t*, std::uint8_t*,
                             std::uint32_t*) override {
    return failure_;
  }
  std::error_code SetValue(platform::RegistryKey key, std::string_view name, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) override {
    return store_.SetValue(key, name, type, data, size);
  }
  std::error_code DeleteValue(platform::RegistryKey key, std::string_view name) override {
    return store_.DeleteValue(key, name);
  }
  std::error_code EnumKey(platform::RegistryKey key, std::uint32_t index, std::string& name) override {
    return store_.EnumKey(key, index, name);
  }
  std::error_code EnumValue(platform::RegistryKey key, std::uint32_t index, std::string& name,
                            std::uint32_t& type) override {
    return store_.EnumValue(key, index, name, type);
  }
  std::error_code CloseKey(platform::RegistryKey key) override { return store_.CloseKey(key); }

 private:
  platform::Registry& store_;
  std::error_code failure_;
};

class UnreadableStore : public InitApplicationVariablesTest, public ::testing::WithParamInterface<SystemError> {};

TEST_P(UnreadableStore, UsesTheDefaultsForNowAndNeverWritesOverTheStoredValues) {
  Store(kComm, "StandardPollRate", "250");
  Store(kSetup, "WarningLevel", "3");
  UnreadableRegistry unreadable(store_, GetParam());
  {
    platform::ScopedOverride<platform::Registry> use(unreadable);
    InitApplicationVariables();
  }
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(Stored(kComm, "StandardPollRate"), "250") << "the administrator's value was overwritten";
  EXPECT_EQ(Stored(kSetup, "WarningLevel"), "3") << "the administrator's value was overwritten";
  ASSERT_EQ(created_.size(), 1u);
  ASSERT_EQ(created_[0]->Reports().size(), 2u);
  EXPECT_EQ(created_[0]->Reports()[0].args.at(0), automation::Variant(ErrorNumber(GetParam())));
}

// Busy past the wait, an I/O error, a damaged store.
INSTANTIATE_TEST_SUITE_P(Failures, UnreadableStore,
                         ::testing::Values(SystemError::kLockViolation, SystemError::kRegistryIoFailed,
                                           SystemError::kRegistryCorrupt));

TEST_F(InitApplicationVariablesTest, AnObjectThatCannotBeMadeReportsThroughTheEarlierOne) {
  testing::ScopedRecordingErrorObject earlier;
  classes_.Unregister(kProgId);
  Store(kComm, "StandardPollRate", "250");
  Store(kSetup, "WarningLevel", "abc");
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 250);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(g_oErrorObject.get(), &*earlier);

  EXPECT_EQ(earlier->Members(),
            (std::vector<std::u16string>{u"Add", u"AddlText=", u"LogError", u"Add", u"AddlText=", u"LogError"}))
      << "no Clear, and an object kept from before is not set up again";
  EXPECT_EQ(earlier->Reports().at(0).args.at(0), automation::Variant(std::int32_t{429}));
  const auto add = earlier->Reports().at(1);
  EXPECT_EQ(add.args.at(0), automation::Variant(std::int32_t{13}));
  EXPECT_EQ(add.args.at(7), automation::Variant(std::u16string(u"modGlobals")));
  EXPECT_EQ(add.args.at(8), automation::Variant(std::u16string(u"InitApplicationVariables()")));
  EXPECT_EQ(add.args.at(13), automation::Variant(std::int16_t{10})) << "level 10 by value, not the warning level";
}

TEST_F(InitApplicationVariablesTest, AnObjectThatCannotBeMadeKeepsTheOldOneAndIsReported) {
  testing::ScopedRecordingErrorObject earlier;
  classes_.Unregister(kProgId);
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(g_oErrorObject.get(), &*earlier);
  ASSERT_EQ(earlier->Reports().size(), 1u);
  EXPECT_EQ(earlier->Reports()[0].args.at(0), automation::Variant(std::int32_t{429}));
}

TEST_F(InitApplicationVariablesTest, TheNewObjectReplacesAndReleasesTheOldOne) {
  auto earlier = std::make_shared<RecordingErrorObject>();
  const std::weak_ptr<RecordingErrorObject> watch = earlier;
  g_oErrorObject = std::move(earlier);
  InitApplicationVariables();
  EXPECT_TRUE(watch.expired());
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(g_oErrorObject, created_[0]);
}

TEST_F(InitApplicationVariablesTest, AFailingPutStopsThePutsAfterItAndIsReportedThroughTheNewObject) {
  failing_.push_back({u"AppVersion=", 438});
  InitApplicationVariables();
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(created_[0]->Members(),
            (std::vector<std::u16string>{u"AppName=", u"AppVersion=", u"Add", u"AddlText=", u"LogError"}));
  EXPECT_EQ(created_[0]->Reports().at(0).args.at(0), automation::Variant(std::int32_t{438}));
  EXPECT_EQ(g_oErrorObject, created_[0]);
}

// A factory that claims success yet hands back no object.
class EmptyHandedFactory final : public automation::ObjectFactory {
 public:
  std::error_code CreateObject(std::string_view, automation::ObjectRef&) override { return {}; }
};

TEST_F(InitApplicationVariablesTest, NoObjectMeansNoProperties) {
  EmptyHandedFactory factory;
  platform::ScopedOverride<automation::ObjectFactory> use(factory);
  auto earlier = std::make_shared<RecordingErrorObject>();
  g_oErrorObject = earlier;
  InitApplicationVariables();
  EXPECT_EQ(g_oErrorObject, nullptr);
  EXPECT_TRUE(earlier->calls().empty());
}

TEST_F(InitApplicationVariablesTest, AStoreThatCannotBeWrittenStillGivesTheDefaults) {
  temp_.Use("/proc/version/registry.db");
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(created_[0]->calls().size(), 5u);
}

TEST_F(InitApplicationVariablesTest, ACorruptStoreGivesTheDefaultsAndIsLeftForTheAdministrator) {
  const std::string garbage = testing::Garbage(4096);
  testing::WriteFileBytes(temp_.path(), garbage);
  ::testing::internal::CaptureStderr();
  InitApplicationVariables();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_TRUE(testing::ReadFileBytes(temp_.path()) == garbage) << "the corrupt file was changed";
  EXPECT_THAT(said, HasSubstr(temp_.path()));
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(InitApplicationVariablesTest, AnUnprivilegedProcessUsesTheDefaultsWithoutWriting) {
  std::filesystem::permissions(temp_.directory(), std::filesystem::perms(0755));
  Store(kSetup, "Other", "x");  // the store exists, owned by root
  const int child = testing::RunInChild(
      [] {
        InitApplicationVariables();
        return g_iStandardPollRate == 500 && g_iWarningLevel == 5 ? 0 : 1;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(child, 0);
  EXPECT_EQ(ReadStored(store_, kHkeyLocalMachine, kComm, "StandardPollRate").status, SystemError::kFileNotFound);
  EXPECT_EQ(ReadStored(store_, kHkeyLocalMachine, kSetup, "WarningLevel").status, SystemError::kFileNotFound);
}

TEST_F(InitApplicationVariablesTest, ProcessesStartingTogetherAgreeAndLoseNothing) {
  constexpr int kProcesses = 4;
  const std::vector<int> statuses = RunTogether(kProcesses, [](int) {
    InitApplicationVariables();
    return g_iStandardPollRate == 500 && g_iWarningLevel == 5 && g_oErrorObject != nullptr ? 0 : 1;
  });
  for (const int status : statuses) EXPECT_EQ(status, 0);
  EXPECT_EQ(Stored(kComm, "StandardPollRate"), std::string("500\0", 4));
  EXPECT_EQ(Stored(kSetup, "WarningLevel"), std::string("5\0", 2));
  std::string detail;
  EXPECT_EQ(platform::CheckRegistryStore(temp_.path(), detail), std::error_code()) << detail;
}

}  // namespace
}  // namespace dovel
