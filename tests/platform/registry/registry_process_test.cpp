// The store shared between processes: users who may only read it, and
// several processes writing at once.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry/registry_test_support.h"
#include "platform/registry/sqlite_registry.h"

namespace dovel::platform {
namespace {

using testing::ReadStored;
using testing::RunInChild;
using testing::RunTogether;
using testing::TempRegistry;
using testing::WriteStored;
namespace fs = std::filesystem;

constexpr const char* kComm = "Software\\Ostrel\\Vimra\\Communications";

TEST(RegistryProcessTest, AnUnprivilegedUserReadsTheStoreButCannotChangeIt) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  fs::permissions(temp.directory(), fs::perms(0755));
  {
    SqliteRegistry registry;
    ASSERT_EQ(WriteStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate", reg_type::kSz, "250"),
              std::error_code());
  }
  const std::string before = testing::ReadFileBytes(temp.path());

  const int child = RunInChild(
      [] {
        SqliteRegistry registry;
        if (ReadStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate").bytes != "250") return 1;
        OwnedKey key;
        if (key.Create(registry, kHkeyLocalMachine, "Software\\Ostrel\\Other") != SystemError::kAccessDenied ||
            key.get() != 0) {
          return 2;
        }
        if (key.Open(registry, kHkeyLocalMachine, kComm)) return 3;
        const std::error_code set = registry.SetValue(key.get(), "StandardPollRate", reg_type::kSz,
                                                      reinterpret_cast<const std::uint8_t*>("1"), 1);
        if (key.Close()) return 5;
        return set == SystemError::kAccessDenied ? 0 : 4;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(child, 0);

  SqliteRegistry registry;
  EXPECT_EQ(ReadStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate").bytes, "250");
  EXPECT_EQ(ReadStored(registry, kHkeyLocalMachine, "Software\\Ostrel\\Other", "x").status, SystemError::kFileNotFound);
  EXPECT_TRUE(testing::ReadFileBytes(temp.path()) == before) << "the file was changed";
}

TEST(RegistryProcessTest, AnUnprivilegedUserCannotCreateTheStore) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  fs::permissions(temp.directory(), fs::perms(0755));
  const int child = RunInChild(
      [] {
        SqliteRegistry registry;
        const std::error_code status = WriteStored(registry, kHkeyLocalMachine, kComm, "x", reg_type::kSz, "1");
        return status == SystemError::kAccessDenied && registry.OpenHandleCount() == 0 ? 0 : 1;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(child, 0);
  EXPECT_FALSE(fs::exists(fs::path(temp.path()).parent_path()));
}

TEST(RegistryProcessTest, ProcessesWritingAtOnceLoseNothing) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  constexpr int kProcesses = 4;
  constexpr int kValuesEach = 25;
  const std::vector<int> statuses = RunTogether(kProcesses, [&](int p) {
    // Each child has its own registry object and connections. The wait for
    // the store is generous: this is about lost writes, not about how fast
    // four processes get their turn on a loaded machine.
    SqliteRegistry::Options options;
    options.busy_timeout_ms = 60'000;
    SqliteRegistry registry(options);
    int failures = 0;
    for (int i = 0; i < kValuesEach; ++i) {
      const std::string mine = "P" + std::to_string(p) + "V" + std::to_string(i);
      if (WriteStored(registry, kHkeyLocalMachine, kComm, mine, reg_type::kSz, mine)) ++failures;
      if (WriteStored(registry, kHkeyLocalMachine, kComm, "Shared", reg_type::kSz, mine)) ++failures;
    }
    return failures;
  });
  for (const int status : statuses) EXPECT_EQ(status, 0) << "writes failed in a child";

  SqliteRegistry registry;
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kValuesEach; ++i) {
      const std::string mine = "P" + std::to_string(p) + "V" + std::to_string(i);
      EXPECT_EQ(ReadStored(registry, kHkeyLocalMachine, kComm, mine).bytes, mine);
    }
  }
  const std::string shared = ReadStored(registry, kHkeyLocalMachine, kComm, "Shared").bytes;
  EXPECT_TRUE(shared.ends_with("V24")) << "the last write of some process must win: " << shared;
  std::string detail;
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), std::error_code()) << detail;
}

TEST(RegistryProcessTest, CheckRegistryStoreTellsMissingFromSound) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  std::string detail;
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), SystemError::kFileNotFound);
  SqliteRegistry registry;
  ASSERT_EQ(WriteStored(registry, kHkeyLocalMachine, kComm, "x", reg_type::kSz, "1"), std::error_code());
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), std::error_code()) << detail;
}

}  // namespace
}  // namespace dovel::platform
