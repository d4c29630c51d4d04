#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/registry/registry_test_support.h"
#include "platform/registry/sqlite_registry.h"

namespace dovel::platform {
namespace {

using ::testing::HasSubstr;
using testing::ReadStored;
using testing::TempRegistry;
using testing::WriteStored;
namespace fs = std::filesystem;

constexpr const char* kComm = "Software\\Ostrel\\Vimra\\Communications";

const std::uint8_t* Bytes(std::string_view text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

// A connection of the test's own to the store file, closed however the test
// ends, so that a failed assertion cannot leave the store locked.
struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

int OpenDatabase(const std::string& path, Database& db) {
  sqlite3* opened = nullptr;
  const int rc = sqlite3_open(path.c_str(), &opened);
  db.reset(opened);
  return rc;
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }
  void TearDown() override { EXPECT_EQ(registry_.OpenHandleCount(), 0u) << "a test leaked a key handle"; }

  TempRegistry temp_;
  SqliteRegistry registry_;
};

TEST_F(RegistryStoreTest, ReadingAMissingStoreFindsNoKeyAndCreatesNothing) {
  RegistryKey key = 77;
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, kComm, key), SystemError::kFileNotFound);
  EXPECT_EQ(key, 0u);
  // A root exists before its store does, but holds nothing.
  ASSERT_EQ(registry_.OpenKey(kHkeyLocalMachine, "", key), std::error_code());
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.QueryValue(key, "x", nullptr, nullptr, &size), SystemError::kFileNotFound);
  std::string name;
  EXPECT_EQ(registry_.EnumKey(key, 0, name), SystemError::kNoMoreItems);
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  EXPECT_FALSE(fs::exists(fs::path(temp_.path()).parent_path())) << "a read made the store's directory";
}

TEST_F(RegistryStoreTest, CreateKeyMakesThePathAndMatchingIgnoresCase) {
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
  EXPECT_NE(key, 0u);
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  EXPECT_TRUE(fs::is_regular_file(temp_.path()));

  ASSERT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\ostrel\\VIMRA\\communications", key), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  // Creating again in other case keeps the stored case and adds a sibling.
  ASSERT_EQ(registry_.CreateKey(kHkeyLocalMachine, "software\\OSTREL\\vimra\\setup", key), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  // Keys below another root are a different tree.
  EXPECT_EQ(registry_.OpenKey(kHkeyCurrentUser, kComm, key), SystemError::kFileNotFound);

  ASSERT_EQ(registry_.OpenKey(kHkeyLocalMachine, "Software\\Ostrel", key), std::error_code());
  std::string name;
  ASSERT_EQ(registry_.EnumKey(key, 0, name), std::error_code());
  EXPECT_EQ(name, "Vimra");
  RegistryKey vimra = 0;
  ASSERT_EQ(registry_.OpenKey(key, "vimra", vimra), std::error_code());  // relative to an open key
  std::vector<std::string> children;
  for (std::uint32_t i = 0; !registry_.EnumKey(vimra, i, name); ++i) children.push_back(name);
  EXPECT_THAT(children, ::testing::ElementsAre("Communications", "setup"));
  EXPECT_EQ(registry_.CloseKey(vimra), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
}

TEST_F(RegistryStoreTest, QueryReportsTypeAndSizeFirstAndNeedsABigEnoughBuffer) {
  ASSERT_EQ(
      WriteStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate", reg_type::kSz, std::string_view("500\0", 4)),
      std::error_code());
  RegistryKey key = 0;
  ASSERT_EQ(registry_.OpenKey(kHkeyLocalMachine, kComm, key), std::error_code());
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(registry_.QueryValue(key, "standardpollrate", &type, nullptr, &size), std::error_code());
  EXPECT_EQ(type, reg_type::kSz);
  EXPECT_EQ(size, 4u);

  std::uint8_t buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  size = 3;
  EXPECT_EQ(registry_.QueryValue(key, "StandardPollRate", &type, buffer, &size), SystemError::kMoreData);
  EXPECT_EQ(size, 4u);
  size = sizeof buffer;
  ASSERT_EQ(registry_.QueryValue(key, "StandardPollRate", &type, buffer, &size), std::error_code());
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("500\0x", 5));
  EXPECT_EQ(registry_.QueryValue(key, "StandardPollRate", &type, buffer, nullptr), SystemError::kInvalidParameter);
  EXPECT_EQ(registry_.QueryValue(key, "NoSuchValue", &type, nullptr, &size), SystemError::kFileNotFound);
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
}

TEST_F(RegistryStoreTest, ValuesKeepTheirExactBytesAndTypeAndTheirFirstName) {
  const std::vector<std::string> stored = {
      std::string("500"),             // text without its NUL
      std::string(),                  // empty, size 0
      std::string("\0", 1),           // empty, size 1
      std::string("ab\0cd\0", 6),     // a NUL in the middle
      std::string("\xE9t\xE9\0", 4),  // 8-bit text
  };
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const std::string name = "Value" + std::to_string(i);
    ASSERT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, name, reg_type::kSz, stored[i]), std::error_code());
  }
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const auto value = ReadStored(registry_, kHkeyLocalMachine, kComm, "VALUE" + std::to_string(i));
    ASSERT_EQ(value.status, std::error_code()) << i;
    EXPECT_EQ(value.type, reg_type::kSz) << i;
    EXPECT_EQ(value.bytes, stored[i]) << i;
  }

  // A REG_DWORD replaced by text under another case of its name: one value,
  // the new type and bytes, the name as first written.
  const std::uint32_t dword = 250;
  ASSERT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate", reg_type::kDword,
                        std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            std::error_code());
  EXPECT_EQ(ReadStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate").type, reg_type::kDword);
  ASSERT_EQ(
      WriteStored(registry_, kHkeyLocalMachine, kComm, "STANDARDPOLLRATE", reg_type::kSz, std::string_view("500\0", 4)),
      std::error_code());
  const auto replaced = ReadStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate");
  EXPECT_EQ(replaced.type, reg_type::kSz);
  EXPECT_EQ(replaced.bytes, std::string("500\0", 4));

  RegistryKey key = 0;
  ASSERT_EQ(registry_.OpenKey(kHkeyLocalMachine, kComm, key), std::error_code());
  std::vector<std::string> names;
  std::string name;
  std::uint32_t type = 0;
  for (std::uint32_t i = 0; !registry_.EnumValue(key, i, name, type); ++i) names.push_back(name);
  EXPECT_THAT(names, ::testing::ElementsAre("Value0", "Value1", "Value2", "Value3", "Value4", "StandardPollRate"));

  EXPECT_EQ(registry_.DeleteValue(key, "value3"), std::error_code());
  EXPECT_EQ(registry_.DeleteValue(key, "Value3"), SystemError::kFileNotFound);
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.QueryValue(key, "Value3", &type, nullptr, &size), SystemError::kFileNotFound);
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
}

TEST_F(RegistryStoreTest, HandlesAreCheckedAndPathsValidated) {
  RegistryKey key = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(registry_.CloseKey(0), SystemError::kInvalidHandle);
  EXPECT_EQ(registry_.CloseKey(0x1234), SystemError::kInvalidHandle);
  EXPECT_EQ(registry_.CloseKey(kHkeyLocalMachine), std::error_code());
  EXPECT_EQ(registry_.OpenKey(0x1234, "Software", key), SystemError::kInvalidHandle);
  EXPECT_EQ(registry_.QueryValue(0, "x", nullptr, nullptr, &size), SystemError::kInvalidHandle);
  EXPECT_EQ(registry_.SetValue(0, "x", reg_type::kSz, Bytes("a"), 1), SystemError::kInvalidHandle);

  ASSERT_EQ(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
  EXPECT_EQ(registry_.SetValue(key, "x", reg_type::kSz, nullptr, 1), SystemError::kInvalidParameter);
  ASSERT_EQ(registry_.CloseKey(key), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), SystemError::kInvalidHandle) << "a handle closed twice";
  EXPECT_EQ(registry_.QueryValue(key, "x", nullptr, nullptr, &size), SystemError::kInvalidHandle);

  for (const char* bad : {"\\Software", "Software\\\\Ostrel", "Software\\", "\\"}) {
    EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, bad, key), SystemError::kBadPathname) << bad;
    EXPECT_EQ(key, 0u);
  }
  EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, std::string(256, 'k'), key), SystemError::kInvalidParameter);
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "Software\\Nothing", key), SystemError::kFileNotFound);
}

TEST_F(RegistryStoreTest, AKeyStaysInTheStoreItWasOpenedIn) {
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
  const std::string other = temp_.directory() + "/other/registry.db";
  temp_.Use(other);  // the store is looked up again on every open below a root
  ASSERT_EQ(registry_.SetValue(key, "Where", reg_type::kSz, Bytes("first"), 5), std::error_code());
  EXPECT_EQ(registry_.CloseKey(key), std::error_code());
  EXPECT_EQ(ReadStored(registry_, kHkeyLocalMachine, kComm, "Where").status, SystemError::kFileNotFound);
  EXPECT_FALSE(fs::exists(other));
  temp_.Use(temp_.path());
  EXPECT_EQ(ReadStored(registry_, kHkeyLocalMachine, kComm, "Where").bytes, "first");
}

TEST_F(RegistryStoreTest, AnOwnedKeyIsClosedOnceByItsLastOwner) {
  {
    OwnedKey first;
    ASSERT_EQ(first.Create(registry_, kHkeyLocalMachine, kComm), std::error_code());
    const RegistryKey handle = first.get();
    ASSERT_NE(handle, 0u);

    OwnedKey second(std::move(first));
    EXPECT_EQ(first.get(), 0u);
    EXPECT_EQ(second.get(), handle);
    EXPECT_EQ(registry_.OpenHandleCount(), 1u) << "a move opens and closes nothing";

    OwnedKey third;
    ASSERT_EQ(third.Open(registry_, kHkeyLocalMachine, "Software"), std::error_code());
    EXPECT_EQ(registry_.OpenHandleCount(), 2u);
    third = std::move(second);
    EXPECT_EQ(registry_.OpenHandleCount(), 1u) << "the key it held was closed";
    EXPECT_EQ(third.get(), handle);

    // Opening through an owner gives up the key it held.
    ASSERT_EQ(third.Open(registry_, kHkeyLocalMachine, "Software\\Ostrel"), std::error_code());
    EXPECT_NE(third.get(), handle);
    EXPECT_EQ(registry_.OpenHandleCount(), 1u);
    std::uint32_t size = 0;
    EXPECT_EQ(registry_.QueryValue(handle, "x", nullptr, nullptr, &size), SystemError::kInvalidHandle);
  }
  EXPECT_EQ(registry_.OpenHandleCount(), 0u) << "every owner's key was closed as it went";
}

TEST_F(RegistryStoreTest, AnOwnedKeyReportsItsCloseAndClosesWhatAFailedOpenLeft) {
  OwnedKey key;
  EXPECT_EQ(key.Close(), std::error_code()) << "an owner never filled has nothing to close";

  EXPECT_EQ(key.Open(registry_, kHkeyLocalMachine, "Software\\Missing"), SystemError::kFileNotFound);
  EXPECT_EQ(key.get(), 0u);
  // The failed open left no key, and that is what gets closed.
  EXPECT_EQ(key.Close(), SystemError::kInvalidHandle);

  ASSERT_EQ(key.Create(registry_, kHkeyLocalMachine, kComm), std::error_code());
  EXPECT_EQ(registry_.OpenHandleCount(), 1u);
  EXPECT_EQ(key.Close(), std::error_code());
  EXPECT_EQ(key.get(), 0u);
  EXPECT_EQ(registry_.OpenHandleCount(), 0u);
  EXPECT_EQ(key.Close(), std::error_code()) << "closed once only";
}

TEST_F(RegistryStoreTest, ConcurrentThreadsShareTheHandleTableSafely) {
  ASSERT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate", reg_type::kSz, "500"),
            std::error_code());
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        if (ReadStored(registry_, kHkeyLocalMachine, kComm, "StandardPollRate").bytes != "500") ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(RegistryStoreTest, AStoreThatCannotBeWrittenIsLeftWithoutTrace) {
  // A path below a file: no directory can be made there, not even by root.
  temp_.Use("/proc/version/registry.db");
  RegistryKey key = 5;
  EXPECT_NE(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(WriteStored(registry_, kHkeyLocalMachine, "", "Root", reg_type::kSz, "x"), SystemError::kPathNotFound);
  EXPECT_EQ(ReadStored(registry_, kHkeyLocalMachine, kComm, "x").status, SystemError::kFileNotFound);
}

TEST_F(RegistryStoreTest, AWriterLockedOutPastTheWaitChangesNothing) {
  SqliteRegistry impatient(SqliteRegistry::Options{RegistryStorePath, 50});
  ASSERT_EQ(WriteStored(impatient, kHkeyLocalMachine, kComm, "Before", reg_type::kSz, "1"), std::error_code());

  Database holder;
  ASSERT_EQ(OpenDatabase(temp_.path(), holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(WriteStored(impatient, kHkeyLocalMachine, kComm, "During", reg_type::kSz, "2"),
            SystemError::kLockViolation);
  // Readers are not held up by a writer.
  EXPECT_EQ(ReadStored(impatient, kHkeyLocalMachine, kComm, "Before").bytes, "1");
  EXPECT_EQ(sqlite3_exec(holder.get(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  holder.reset();

  EXPECT_EQ(ReadStored(impatient, kHkeyLocalMachine, kComm, "During").status, SystemError::kFileNotFound);
  EXPECT_EQ(WriteStored(impatient, kHkeyLocalMachine, kComm, "After", reg_type::kSz, "3"), std::error_code());
  EXPECT_EQ(impatient.OpenHandleCount(), 0u);
}

// A file that is not a sound store: reads fall back, writes are refused,
// the bytes stay as they were and stderr names the file once.
class UnusableStoreTest : public RegistryStoreTest {
 protected:
  void ExpectLeftAloneAndNamed(const std::string& before) {
    ::testing::internal::CaptureStderr();
    RegistryKey key = 9;
    EXPECT_NE(registry_.OpenKey(kHkeyLocalMachine, kComm, key), std::error_code());
    EXPECT_EQ(key, 0u);
    EXPECT_NE(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
    EXPECT_EQ(key, 0u);
    EXPECT_NE(WriteStored(registry_, kHkeyLocalMachine, "", "Root", reg_type::kSz, "x"), std::error_code());
    EXPECT_NE(ReadStored(registry_, kHkeyLocalMachine, "", "Root").status, std::error_code());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(testing::ReadFileBytes(temp_.path()) == before) << "the file was changed";
    EXPECT_THAT(said, HasSubstr(temp_.path()));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    std::string detail;
    EXPECT_EQ(CheckRegistryStore(temp_.path(), detail), SystemError::kRegistryCorrupt) << detail;
  }
};

TEST_F(UnusableStoreTest, GarbageFile) {
  const std::string garbage = testing::Garbage(8192);
  testing::WriteFileBytes(temp_.path(), garbage);
  ExpectLeftAloneAndNamed(garbage);
}

TEST_F(UnusableStoreTest, SomeOtherDatabase) {
  fs::create_directories(fs::path(temp_.path()).parent_path());
  Database db;
  ASSERT_EQ(OpenDatabase(temp_.path(), db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db.get(), "CREATE TABLE accounts(id INTEGER, owner TEXT)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  db.reset();
  ExpectLeftAloneAndNamed(testing::ReadFileBytes(temp_.path()));
}

TEST_F(UnusableStoreTest, StoreWithADamagedPage) {
  // Enough values for several pages; the last writer's close folds the WAL
  // back into the file, so the damage below lands on live data.
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, "Value" + std::to_string(i), reg_type::kSz,
                          std::string(1500, 'v')),
              std::error_code());
  }
  std::string bytes = testing::ReadFileBytes(temp_.path());
  ASSERT_GT(bytes.size(), 4 * 4096u);
  for (std::size_t i = 2 * 4096 + 16; i < 3 * 4096; ++i) bytes[i] = '\x5A';
  testing::WriteFileBytes(temp_.path(), bytes);
  ::testing::internal::CaptureStderr();
  RegistryKey key = 0;
  const std::error_code status = registry_.CreateKey(kHkeyLocalMachine, "Software\\New", key);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, SystemError::kRegistryCorrupt);
  EXPECT_EQ(key, 0u);
  EXPECT_THAT(said, HasSubstr(temp_.path()));
  EXPECT_TRUE(testing::ReadFileBytes(temp_.path()) == bytes) << "the file was changed";
}

TEST_F(UnusableStoreTest, DamagedStoreWhoseLastCommitIsStillInTheLog) {
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, "Value" + std::to_string(i), reg_type::kSz,
                          std::string(1500, 'v')),
              std::error_code());
  }
  // A writer that ended without folding its log back: its commit lives in
  // the -wal file alone, with the -shm index beside it.
  Database writer;
  ASSERT_EQ(OpenDatabase(temp_.path(), writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_db_config(writer.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer.get(), "UPDATE reg_value SET data = 'latest' WHERE name = 'Value3'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  writer.reset();
  const std::string wal_path = temp_.path() + "-wal";
  const std::string shm_path = temp_.path() + "-shm";
  ASSERT_GT(fs::file_size(wal_path), 0u);

  std::string bytes = testing::ReadFileBytes(temp_.path());
  ASSERT_GT(bytes.size(), 4 * 4096u);
  for (std::size_t i = 2 * 4096 + 16; i < 3 * 4096; ++i) bytes[i] = '\x5A';
  testing::WriteFileBytes(temp_.path(), bytes);
  const std::string wal = testing::ReadFileBytes(wal_path);
  const std::string shm = testing::ReadFileBytes(shm_path);

  ::testing::internal::CaptureStderr();
  RegistryKey key = 0;
  EXPECT_EQ(registry_.CreateKey(kHkeyLocalMachine, "Software\\New", key), SystemError::kRegistryCorrupt);
  EXPECT_EQ(WriteStored(registry_, kHkeyLocalMachine, kComm, "Value3", reg_type::kSz, "mine"),
            SystemError::kRegistryCorrupt);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(key, 0u);
  EXPECT_TRUE(testing::ReadFileBytes(temp_.path()) == bytes) << "the store was changed";
  EXPECT_TRUE(testing::ReadFileBytes(wal_path) == wal) << "the log was folded in or emptied";
  EXPECT_TRUE(testing::ReadFileBytes(shm_path) == shm) << "the log's index was changed";
}

TEST_F(UnusableStoreTest, DirectoryInsteadOfAFile) {
  fs::create_directories(temp_.path());
  ::testing::internal::CaptureStderr();
  RegistryKey key = 0;
  EXPECT_NE(registry_.OpenKey(kHkeyLocalMachine, kComm, key), std::error_code());
  EXPECT_NE(registry_.CreateKey(kHkeyLocalMachine, kComm, key), std::error_code());
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(temp_.path()));
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

TEST(RegistryNames, RootsAndTypesByName) {
  RegistryKey root = 0;
  EXPECT_TRUE(RegistryRootFromName("hklm", root));
  EXPECT_EQ(root, kHkeyLocalMachine);
  EXPECT_TRUE(RegistryRootFromName("HKEY_CURRENT_USER", root));
  EXPECT_EQ(root, kHkeyCurrentUser);
  EXPECT_FALSE(RegistryRootFromName("HKLM2", root));
  EXPECT_EQ(RegistryRootName(kHkeyLocalMachine), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(RegistryRootName(0x1000), "");
  EXPECT_EQ(RegistryTypeName(reg_type::kDword), "REG_DWORD");
  EXPECT_EQ(RegistryTypeName(0x99), "REG_0x99");
}

}  // namespace
}  // namespace dovel::platform
