// The Windows named-mapping behaviour within one process.

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support.h"

namespace dovel::platform::shm_test {
namespace {

void Fill(std::byte* view, std::size_t offset, std::string_view text) {
  std::memcpy(view + offset, text.data(), text.size());
}

std::string Read(const std::byte* view, std::size_t offset, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(view) + offset, count);
}

using SharedMemoryCreation = SharedMemoryTest;

TEST_F(SharedMemoryCreation, LargerRequestedSizeIsMappedWhole) {
  const OpenResult created = memory_.CreateOrOpen(UniqueName("large"), 3 * kBlockSize);
  ASSERT_EQ(created.status, std::error_code());
  const MapResult mapped = memory_.Map(created.handle);
  ASSERT_NE(mapped.view, nullptr);
  EXPECT_TRUE(AllZero(mapped.view, 3 * kBlockSize));
  memory_.Unmap(mapped.view);
  memory_.Close(created.handle);
}

TEST_F(SharedMemoryCreation, ZeroSizeIsRefused) {
  const std::string name = UniqueName("zero");
  EXPECT_EQ(memory_.CreateOrOpen(name, 0).status, SystemError::kInvalidParameter);
  EXPECT_FALSE(BackingExists(name));
}

using SharedMemoryOpening = SharedMemoryTest;

TEST_F(SharedMemoryOpening, MissingNameGives2AndCreatesNothing) {
  const std::string name = UniqueName("missing");
  const OpenResult opened = Open(name);
  EXPECT_EQ(opened.handle, 0u);
  EXPECT_EQ(opened.status, SystemError::kFileNotFound);
  EXPECT_FALSE(BackingExists(name));
}

TEST_F(SharedMemoryOpening, TwoHandlesInOneProcessShareBytes) {
  const std::string name = UniqueName("share");
  const OpenResult created = Create(name);
  const OpenResult opened = Open(name);
  ASSERT_NE(opened.handle, 0u);
  EXPECT_EQ(opened.status, std::error_code());
  EXPECT_NE(opened.handle, created.handle);
  std::byte* first = Map(created.handle);
  std::byte* second = Map(opened.handle);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  Fill(first, 0, "from first");
  EXPECT_EQ(Read(second, 0, 10), "from first");
  Fill(second, 1000, "back");
  EXPECT_EQ(Read(first, 1000, 4), "back");
}

TEST_F(SharedMemoryOpening, NamesMatchExactlyAndAllowEightBitCharacters) {
  const std::string name = UniqueName("Caf\xc3\xa9\xff\x01 Name");
  ASSERT_EQ(Create(name).status, std::error_code());
  std::string other_case = name;
  other_case.replace(other_case.find("Name"), 4, "name");
  EXPECT_EQ(Open(other_case).status, SystemError::kFileNotFound);
  EXPECT_EQ(Open(name.substr(0, name.size() - 1)).status, SystemError::kFileNotFound);
  EXPECT_EQ(Open(name).status, std::error_code());
}

using SharedMemoryLifetime = SharedMemoryTest;

TEST_F(SharedMemoryLifetime, LastCloseDestroysAndRecreationIsZeroed) {
  const std::string name = UniqueName("last");
  const OpenResult first = Create(name);
  const OpenResult second = Open(name);
  std::byte* view = Map(first.handle);
  ASSERT_NE(view, nullptr);
  Fill(view, 0, "old");
  memory_.Unmap(view);
  memory_.Close(first.handle);
  EXPECT_TRUE(BackingExists(name)) << "the second handle still holds it";

  memory_.Close(second.handle);
  EXPECT_FALSE(BackingExists(name));
  EXPECT_EQ(Open(name).status, SystemError::kFileNotFound);
  const OpenResult renewed = Create(name);
  EXPECT_EQ(renewed.status, std::error_code());
  std::byte* fresh = Map(renewed.handle);
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(AllZero(fresh, kBlockSize));
}

TEST_F(SharedMemoryLifetime, ViewOutlivesItsHandle) {
  const std::string name = UniqueName("view");
  const OpenResult created = Create(name);
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);
  memory_.Close(created.handle);
  Fill(view, 10, "still here");

  const OpenResult reopened = Open(name);
  ASSERT_EQ(reopened.status, std::error_code()) << "the view keeps the block";
  std::byte* second = Map(reopened.handle);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Read(second, 10, 10), "still here");
  memory_.Unmap(second);
  memory_.Close(reopened.handle);
  EXPECT_TRUE(BackingExists(name));

  memory_.Unmap(view);
  EXPECT_FALSE(BackingExists(name));
  EXPECT_EQ(Open(name).status, SystemError::kFileNotFound);
}

TEST_F(SharedMemoryLifetime, EveryViewOfAClosedHandleCounts) {
  const std::string name = UniqueName("views");
  const OpenResult created = Create(name);
  std::byte* first = Map(created.handle);
  std::byte* second = Map(created.handle);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  memory_.Close(created.handle);
  memory_.Unmap(first);
  EXPECT_TRUE(BackingExists(name));
  Fill(second, 0, "x");
  memory_.Unmap(second);
  EXPECT_FALSE(BackingExists(name));
}

using SharedMemoryBadInput = SharedMemoryTest;

TEST_F(SharedMemoryBadInput, LongNamesAreRefusedPastTwoHundredCharacters) {
  std::string longest = UniqueName("long");
  longest.resize(200, 'n');
  const std::string too_long = longest + "n";
  EXPECT_EQ(Create(too_long).status, SystemError::kFilenameExcedRange);
  EXPECT_EQ(Open(too_long).status, SystemError::kFilenameExcedRange);
  EXPECT_FALSE(BackingExists(too_long));

  const OpenResult created = Create(longest);
  EXPECT_EQ(created.status, std::error_code());
  EXPECT_NE(created.handle, 0u);
  EXPECT_EQ(Open(longest).status, std::error_code());
}

TEST_F(SharedMemoryBadInput, HandlesNotHandedOutAreRejected) {
  int on_stack = 0;
  for (const BlockHandle bogus : {BlockHandle{0}, ~BlockHandle{0}, reinterpret_cast<BlockHandle>(&on_stack)}) {
    const MapResult mapped = memory_.Map(bogus);
    EXPECT_EQ(mapped.view, nullptr);
    EXPECT_EQ(mapped.status, SystemError::kInvalidHandle);
    memory_.Close(bogus);
  }
  memory_.Unmap(nullptr);
  memory_.Unmap(reinterpret_cast<std::byte*>(&on_stack));
}

TEST_F(SharedMemoryBadInput, ClosedHandleStaysDeadEvenWhenItsDescriptorIsReused) {
  const std::string name = UniqueName("reuse");
  const OpenResult keeper = Create(name);
  const OpenResult closed = Open(name);
  memory_.Close(closed.handle);
  const OpenResult reused = Open(name);  // likely on the same descriptor number
  ASSERT_EQ(reused.status, std::error_code());

  EXPECT_EQ(memory_.Map(closed.handle).status, SystemError::kInvalidHandle);
  memory_.Close(closed.handle);
  memory_.Close(keeper.handle);
  std::byte* view = Map(reused.handle);
  ASSERT_NE(view, nullptr) << "a second Close must not touch another handle";
  Fill(view, 0, "alive");
  EXPECT_TRUE(BackingExists(name));
  EXPECT_EQ(Open(name).status, std::error_code());
}

TEST_F(SharedMemoryBadInput, UnmapOfAnAddressInsideAViewIsIgnored) {
  const std::string name = UniqueName("inside");
  const OpenResult created = Create(name);
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);
  memory_.Close(created.handle);
  memory_.Unmap(view + 8);
  EXPECT_TRUE(BackingExists(name));
  Fill(view, 0, "still mapped");
  memory_.Unmap(view);
  memory_.Unmap(view);
  EXPECT_FALSE(BackingExists(name));
}

using SharedMemoryThreads = SharedMemoryTest;

// Threads of one process each keep two handles of a shared name at a time
// (so it must exist and be one block for both) and close them in varying
// order; afterwards nothing may remain.
TEST_F(SharedMemoryThreads, ConcurrentHandlesOfOneProcessStayConsistent) {
  const std::array<std::string, 2> names{UniqueName("threads-a"), UniqueName("threads-b")};
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      SharedMemory& memory = CurrentSharedMemory();
      for (int round = 0; round < kRounds; ++round) {
        const std::string& name = names[(t + round) % names.size()];
        const OpenResult first = memory.CreateOrOpen(name, kBlockSize);
        const OpenResult second = memory.Open(name);
        if (first.status && first.status != SystemError::kAlreadyExists) ++failures;
        if (second.status) ++failures;
        const MapResult a = memory.Map(first.handle);
        const MapResult b = memory.Map(second.handle);
        if (a.view == nullptr || b.view == nullptr) {
          ++failures;
        } else {
          const auto stamp = static_cast<std::byte>(t * 31 + round);
          a.view[8 + t] = stamp;
          if (b.view[8 + t] != stamp) ++failures;
        }
        if (round % 2 == 0) {
          memory.Close(first.handle);
          memory.Unmap(a.view);
        } else {
          memory.Unmap(a.view);
          memory.Close(first.handle);
        }
        memory.Close(second.handle);
        memory.Unmap(b.view);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (const std::string& name : names) {
    EXPECT_FALSE(BackingExists(name));
    EXPECT_EQ(Open(name).status, SystemError::kFileNotFound);
  }
}

}  // namespace
}  // namespace dovel::platform::shm_test
