// The Windows named-mapping behaviour within one process, where the POSIX
// build shows it in /dev/shm: the backing entry's owner, mode and size, and
// that a refused name touches no file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support_posix.h"

namespace dovel::platform::shm_test {
namespace {

using ::testing::IsEmpty;

void Fill(std::byte* view, std::size_t offset, std::string_view text) {
  std::memcpy(view + offset, text.data(), text.size());
}

std::string Read(const std::byte* view, std::size_t offset, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(view) + offset, count);
}

using SharedMemoryCreation = SharedMemoryTest;

TEST_F(SharedMemoryCreation, NewBlockIsZeroFilledPrivateAndWritable) {
  const std::string name = UniqueName("new");
  const OpenResult created = Create(name);
  ASSERT_NE(created.handle, 0u);
  EXPECT_EQ(created.status, std::error_code());
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(AllZero(view, kBlockSize));
  Fill(view, kBlockSize - 5, "tail!");
  EXPECT_EQ(Read(view, kBlockSize - 5, 5), "tail!");

  struct stat info {};
  ASSERT_EQ(stat(BackingPath(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_size, kBlockSize);
}

TEST_F(SharedMemoryCreation, UmaskDoesNotNarrowTheBlockMode) {
  const std::string name = UniqueName("umask");
  const mode_t previous = umask(0277);
  const OpenResult created = Create(name);
  umask(previous);
  ASSERT_NE(created.handle, 0u);
  struct stat info {};
  ASSERT_EQ(stat(BackingPath(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(SharedMemoryCreation, ExistingNameGives183AndKeepsContentAndSize) {
  const std::string name = UniqueName("existing");
  const OpenResult first = Create(name);
  ASSERT_EQ(first.status, std::error_code());
  Fill(Map(first.handle), 100, "kept");

  const OpenResult bigger = memory_.CreateOrOpen(name, 4 * kBlockSize);
  EXPECT_EQ(bigger.status, SystemError::kAlreadyExists);
  memory_.Close(bigger.handle);
  const OpenResult third = Create(name);
  EXPECT_EQ(third.status, SystemError::kAlreadyExists);
  EXPECT_NE(third.handle, first.handle);
  std::byte* view = Map(third.handle);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(Read(view, 100, 4), "kept");
  struct stat info {};
  ASSERT_EQ(stat(BackingPath(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_size, kBlockSize);
}

using SharedMemoryBadInput = SharedMemoryTest;

TEST_F(SharedMemoryBadInput, NamesWithSeparatorsOrEmptyAreRefusedBeforeTouchingAnything) {
  const std::string token = ProcessToken() + "bad";
  const std::vector<std::string> names{
      "", token + "/inner", "/" + token, "../../tmp/" + token, token + "\\back", token + std::string(1, '\0') + "nul",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(::testing::PrintToString(name));
    const OpenResult created = Create(name);
    EXPECT_EQ(created.handle, 0u);
    EXPECT_EQ(created.status, SystemError::kInvalidName);
    const OpenResult opened = Open(name);
    EXPECT_EQ(opened.handle, 0u);
    EXPECT_EQ(opened.status, SystemError::kInvalidName);
  }
  EXPECT_THAT(ShmEntriesContaining(token), IsEmpty());
  struct stat info {};
  EXPECT_NE(stat(("/tmp/" + token).c_str(), &info), 0);
}

}  // namespace
}  // namespace dovel::platform::shm_test
