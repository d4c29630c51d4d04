// Loading the poll rate and warning level, writing defaults back, and
// creating and configuring the thread's error-logging object.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "config/mod_globals.h"
#include "config/mod_registry.h"
#include "platform/automation/object_factory.h"
#include "platform/process/settable_process_info.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_test_support.h"
#include "support/recording_error_object.h"

namespace dovel::config {
namespace {

namespace automation = platform::automation;
using ::testing::ElementsAre;
using testing::RecordingErrorObject;

constexpr auto kRoot = platform::kHkeyLocalMachine;
constexpr char kCommunications[] = "Software\\Ostrel\\Vimra\\Communications";
constexpr char kSetup[] = "Software\\Ostrel\\Vimra\\Setup";

class Settings : public ::testing::Test {
 protected:
  Settings() {
    classes_.Register("ErrorObject.clsErrorObject", [this]() -> automation::ObjectRef {
      if (!creatable_) return nullptr;
      auto object = std::make_shared<RecordingErrorObject>();
      if (fail_member_) object->FailMember(*fail_member_, 380);
      created_.push_back(object);
      return object;
    });
    g_iStandardPollRate = 0;
    g_iWarningLevel = 0;
    g_oErrorObject.reset();
  }
  ~Settings() override { g_oErrorObject.reset(); }

  void StoreText(const char* key, const char* name, std::string_view text) {
    ASSERT_EQ(testing::WriteStored(registry_, kRoot, key, name, platform::reg_type::kSz, text), 0);
  }
  testing::StoredValue Stored(const char* key, const char* name) {
    return testing::ReadStored(registry_, kRoot, key, name);
  }

  testing::TempRegistry temp_;
  platform::Registry& registry_ = platform::CurrentRegistry();
  automation::ClassTable classes_;
  platform::ScopedOverride<automation::ObjectFactory> use_classes_{classes_};
  platform::SettableProcessInfo process_{"Dovel", {1, 0, 0, 31}};
  platform::ScopedOverride<platform::ProcessInfo> use_process_{process_};
  std::vector<std::shared_ptr<RecordingErrorObject>> created_;
  bool creatable_ = true;
  std::optional<std::u16string> fail_member_;
};

TEST_F(Settings, MissingValuesAreWrittenBackAsTextAndUsed) {
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  const testing::StoredValue poll = Stored(kCommunications, "StandardPollRate");
  EXPECT_EQ(poll.type, platform::reg_type::kSz);
  EXPECT_EQ(poll.bytes, std::string("500\0", 4));
  EXPECT_EQ(Stored(kSetup, "WarningLevel").bytes, std::string("5\0", 2));
}

TEST_F(Settings, MinusOneAndOtherTypesCountAsMissing) {
  StoreText(kCommunications, "StandardPollRate", "-1");
  ASSERT_EQ(testing::WriteStored(registry_, kRoot, kSetup, "WarningLevel", platform::reg_type::kDword,
                                 std::string("\x07\0\0\0", 4)),
            0);
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(Stored(kCommunications, "StandardPollRate").bytes, std::string("500\0", 4));
  EXPECT_EQ(Stored(kSetup, "WarningLevel").type, platform::reg_type::kSz);
}

TEST_F(Settings, NumbersAreReadWithBlanksAndRoundedHalfToEven) {
  const std::pair<const char*, std::int16_t> cases[] = {
      {"  250  ", 250}, {"0", 0}, {"2.5", 2}, {"3.5", 4}, {"-32768", -32768}, {"5e2", 500}};
  for (const auto& [text, expected] : cases) {
    StoreText(kCommunications, "StandardPollRate", text);
    InitApplicationVariables();
    EXPECT_EQ(g_iStandardPollRate, expected) << text;
    EXPECT_EQ(Stored(kCommunications, "StandardPollRate").bytes, text) << "no write-back for a set value";
  }
}

TEST_F(Settings, FivePropertiesGoToTheNewErrorObjectInOrder) {
  StoreText(kSetup, "WarningLevel", "7");
  InitApplicationVariables();
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_EQ(g_oErrorObject, created_[0]);
  const auto& calls = created_[0]->calls();
  EXPECT_THAT(created_[0]->Members(),
              ElementsAre(u"AppName=", u"AppVersion=", u"WarningLevel=", u"AppErrorFile=", u"FileSection="));
  EXPECT_EQ(calls[0].args[0], automation::Variant(u"Dovel"));
  EXPECT_EQ(calls[1].args[0], automation::Variant(u"1.0.31"));
  EXPECT_EQ(calls[2].args[0], automation::Variant(std::int16_t{7}));
  EXPECT_EQ(calls[3].args[0], automation::Variant(u"Comm.err"));
  EXPECT_EQ(calls[4].args[0], automation::Variant(u"COMM"));
}

TEST_F(Settings, EmptyPollRateSkipsEverythingAfterItAndIsReportedThroughTheEarlierObject) {
  InitApplicationVariables();  // a first run leaves an object behind
  ASSERT_EQ(created_.size(), 1u);
  g_iStandardPollRate = 123;
  StoreText(kCommunications, "StandardPollRate", "");
  StoreText(kSetup, "WarningLevel", "9");
  InitApplicationVariables();

  EXPECT_EQ(g_iStandardPollRate, 123);
  EXPECT_EQ(g_iWarningLevel, 5);  // step 4 never ran
  EXPECT_EQ(created_.size(), 1u);  // nor the creation of a new object
  const auto members = created_[0]->Members();
  EXPECT_THAT(std::vector<std::u16string>(members.begin() + 5, members.end()),
              ElementsAre(u"Add", u"AddlText=", u"LogError"));  // no Clear
  const auto report = created_[0]->Reports().at(0);
  EXPECT_EQ(report.args[0], automation::Variant(std::int32_t{13}));
  EXPECT_EQ(report.args[13], automation::Variant(std::int16_t{10}));  // by value, not the warning level
  EXPECT_EQ(report.args[8], automation::Variant(u"InitApplicationVariables()"));
}

TEST_F(Settings, OutOfRangeOrNonNumericSettingsFailWithoutAReportOnAFirstRun) {
  for (const char* text : {"40000", "abc", "1,5", "0x10"}) {
    g_iStandardPollRate = 0;
    StoreText(kCommunications, "StandardPollRate", text);
    InitApplicationVariables();
    EXPECT_EQ(g_iStandardPollRate, 0) << text;
    EXPECT_EQ(g_oErrorObject, nullptr) << text;
  }
  EXPECT_TRUE(created_.empty());
}

TEST_F(Settings, ABadWarningLevelKeepsThePollRateJustRead) {
  StoreText(kCommunications, "StandardPollRate", "250");
  StoreText(kSetup, "WarningLevel", "loud");
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 250);
  EXPECT_EQ(g_iWarningLevel, 0);
  EXPECT_EQ(g_oErrorObject, nullptr);
}

TEST_F(Settings, AFailingPropertyStopsTheRestAndIsReportedThroughTheNewObject) {
  fail_member_ = u"AppVersion=";
  InitApplicationVariables();
  ASSERT_EQ(created_.size(), 1u);
  EXPECT_THAT(created_[0]->Members(), ElementsAre(u"AppName=", u"AppVersion=", u"Add", u"AddlText=", u"LogError"));
  EXPECT_EQ(created_[0]->Reports().at(0).args[0], automation::Variant(std::int32_t{380}));
}

TEST_F(Settings, AnObjectThatCannotBeCreatedLeavesTheEarlierOneInPlace) {
  creatable_ = false;
  InitApplicationVariables();
  EXPECT_EQ(g_oErrorObject, nullptr);
  EXPECT_EQ(g_iStandardPollRate, 500);

  auto earlier = std::make_shared<RecordingErrorObject>();
  g_oErrorObject = earlier;
  InitApplicationVariables();
  EXPECT_EQ(g_oErrorObject, earlier);
  EXPECT_EQ(earlier->Reports().at(0).args[0], automation::Variant(std::int32_t{429}));
}

TEST_F(Settings, ACorruptStoreGivesTheDefaultsAndIsLeftAlone) {
  testing::WriteFileBytes(temp_.path(), testing::Garbage(8192));
  const std::string before = testing::ReadFileBytes(temp_.path());
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 500);
  EXPECT_EQ(g_iWarningLevel, 5);
  EXPECT_EQ(testing::ReadFileBytes(temp_.path()), before);
}

TEST_F(Settings, ProcessesStartingTogetherAgreeOnTheDefaults) {
  constexpr int kChildren = 4;
  std::vector<pid_t> children;
  for (int i = 0; i < kChildren; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      // Each child starts many times, as servers starting together would.
      int bad = 0;
      for (int run = 0; run < 25; ++run) {
        g_iStandardPollRate = 0;
        g_iWarningLevel = 0;
        InitApplicationVariables();
        bad += g_iStandardPollRate != 500 || g_iWarningLevel != 5;
      }
      _exit(bad == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Stored(kCommunications, "StandardPollRate").bytes, std::string("500\0", 4));
  EXPECT_EQ(Stored(kSetup, "WarningLevel").bytes, std::string("5\0", 2));
}

}  // namespace
}  // namespace dovel::config
