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
    ASSERT_EQ(WriteStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate", reg_type::kSz, "250"), 0);
  }
  const std::string before = testing::ReadFileBytes(temp.path());

  const int child = RunInChild(
      [] {
        SqliteRegistry registry;
        if (ReadStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate").bytes != "250") return 1;
        RegistryKey key = 0;
        if (registry.CreateKey(kHkeyLocalMachine, "Software\\Ostrel\\Other", key) != 5 || key != 0) return 2;
        if (registry.OpenKey(kHkeyLocalMachine, kComm, key) != 0) return 3;
        const std::int32_t set = registry.SetValue(key, "StandardPollRate", reg_type::kSz,
                                                   reinterpret_cast<const std::uint8_t*>("1"), 1);
        registry.CloseKey(key);
        return set == 5 ? 0 : 4;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(child, 0);

  SqliteRegistry registry;
  EXPECT_EQ(ReadStored(registry, kHkeyLocalMachine, kComm, "StandardPollRate").bytes, "250");
  EXPECT_EQ(ReadStored(registry, kHkeyLocalMachine, "Software\\Ostrel\\Other", "x").status, 2);
  EXPECT_TRUE(testing::ReadFileBytes(temp.path()) == before) << "the file was changed";
}

TEST(RegistryProcessTest, AnUnprivilegedUserCannotCreateTheStore) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  fs::permissions(temp.directory(), fs::perms(0755));
  const int child = RunInChild(
      [] {
        SqliteRegistry registry;
        const std::int32_t status = WriteStored(registry, kHkeyLocalMachine, kComm, "x", reg_type::kSz, "1");
        return status == 5 && registry.OpenHandleCount() == 0 ? 0 : 1;
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
    // Each child has its own registry object and connections.
    SqliteRegistry registry;
    int failures = 0;
    for (int i = 0; i < kValuesEach; ++i) {
      const std::string mine = "P" + std::to_string(p) + "V" + std::to_string(i);
      if (WriteStored(registry, kHkeyLocalMachine, kComm, mine, reg_type::kSz, mine) != 0) ++failures;
      if (WriteStored(registry, kHkeyLocalMachine, kComm, "Shared", reg_type::kSz, mine) != 0) ++failures;
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
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), 0) << detail;
}

TEST(RegistryProcessTest, CheckRegistryStoreTellsMissingFromSound) {
  TempRegistry temp;
  ASSERT_TRUE(temp.ok());
  std::string detail;
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), 2);
  SqliteRegistry registry;
  ASSERT_EQ(WriteStored(registry, kHkeyLocalMachine, kComm, "x", reg_type::kSz, "1"), 0);
  EXPECT_EQ(CheckRegistryStore(temp.path(), detail), 0) << detail;
}

}  // namespace
}  // namespace dovel::platform
