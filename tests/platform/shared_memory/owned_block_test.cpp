// OwnedBlock: the one owner of a handle and its view.

#include <string>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support.h"
#include "support/fake_shared_memory.h"

namespace dovel::platform::shm_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Release = testing::FakeSharedMemory::Release;

// The double counts every release and refuses one of something not held.
class OwnedBlockReleases : public ::testing::Test {
 protected:
  OwnedBlock Owned(const std::string& name) {
    OwnedBlock block(memory_, memory_.CreateOrOpen(name, kBlockSize).handle);
    EXPECT_EQ(block.Map(), std::error_code());
    return block;
  }
  void TearDown() override { EXPECT_EQ(memory_.bad_releases(), 0); }

  testing::FakeSharedMemory memory_;
};

TEST_F(OwnedBlockReleases, TheViewGoesBeforeTheHandleAndEachOnce) {
  {
    const OwnedBlock block = Owned("a");
    ASSERT_NE(block.view(), nullptr);
    ASSERT_NE(block.handle(), 0u);
    EXPECT_THAT(memory_.releases(), IsEmpty());
  }
  EXPECT_THAT(memory_.releases(), ElementsAre(Release::kUnmap, Release::kClose));
  EXPECT_FALSE(memory_.Exists("a"));
}

TEST_F(OwnedBlockReleases, MoveConstructionHandsOverAndTheSourceGivesNothingBack) {
  {
    OwnedBlock source = Owned("a");
    std::byte* const view = source.view();
    const BlockHandle handle = source.handle();
    {
      const OwnedBlock moved(std::move(source));
      EXPECT_EQ(moved.view(), view);
      EXPECT_EQ(moved.handle(), handle);
      EXPECT_EQ(source.view(), nullptr);
      EXPECT_EQ(source.handle(), 0u);
      source.Reset();
      EXPECT_THAT(memory_.releases(), IsEmpty());
    }
    EXPECT_THAT(memory_.releases(), ElementsAre(Release::kUnmap, Release::kClose));
  }
  EXPECT_EQ(memory_.releases().size(), 2u) << "the moved-from owner released something";
}

TEST_F(OwnedBlockReleases, MoveAssignmentLetsGoOfTheTargetsOwnBlockFirst) {
  OwnedBlock target = Owned("old");
  OwnedBlock source = Owned("new");
  target = std::move(source);
  EXPECT_FALSE(memory_.Exists("old"));
  EXPECT_TRUE(memory_.Exists("new"));
  EXPECT_THAT(memory_.releases(), ElementsAre(Release::kUnmap, Release::kClose));
  EXPECT_EQ(source.handle(), 0u);

  source = OwnedBlock();
  EXPECT_EQ(memory_.releases().size(), 2u);
  target.Reset();
  target.Reset();
  EXPECT_FALSE(memory_.Exists("new"));
  EXPECT_EQ(memory_.releases().size(), 4u);
}

TEST_F(OwnedBlockReleases, FailedMapLeavesTheHandleForTheOwnerToClose) {
  const OpenResult opened = memory_.CreateOrOpen("a", kBlockSize);
  {
    OwnedBlock block(memory_, opened.handle);
    memory_.FailNextMap(SystemError::kNotEnoughMemory);
    EXPECT_EQ(block.Map(), SystemError::kNotEnoughMemory);
    EXPECT_EQ(block.view(), nullptr);
    EXPECT_EQ(block.handle(), opened.handle);
  }
  EXPECT_THAT(memory_.releases(), ElementsAre(Release::kClose));
  EXPECT_FALSE(memory_.Exists("a"));
}

TEST_F(OwnedBlockReleases, MappingAgainKeepsTheOneView) {
  OwnedBlock block = Owned("a");
  std::byte* const view = block.view();
  EXPECT_EQ(block.Map(), std::error_code());
  EXPECT_EQ(block.view(), view);
  block.Reset();
  EXPECT_FALSE(memory_.Exists("a")) << "a second view was made and never unmapped";
}

TEST_F(OwnedBlockReleases, AnOwnerOfNothingRefusesAndGivesNothingBack) {
  {
    OwnedBlock empty;
    OwnedBlock failed_open(memory_, 0);
    EXPECT_EQ(empty.Map(), SystemError::kInvalidHandle);
    EXPECT_EQ(failed_open.Map(), SystemError::kInvalidHandle);
    EXPECT_EQ(failed_open.Lock(0), SystemError::kInvalidHandle);
    failed_open.Unlock();
  }
  EXPECT_THAT(memory_.releases(), IsEmpty());
}

using OwnedBlockOnTheSystem = SharedMemoryTest;

TEST_F(OwnedBlockOnTheSystem, TheBlockLivesAsLongAsItsLastOwner) {
  const std::string name = UniqueName("owned");
  OwnedBlock kept;
  {
    OwnedBlock first(memory_, memory_.CreateOrOpen(name, kBlockSize).handle);
    ASSERT_EQ(first.Map(), std::error_code());
    first.view()[7] = std::byte{0x42};
    OwnedBlock second(memory_, memory_.Open(name).handle);
    ASSERT_EQ(second.Map(), std::error_code());
    kept = std::move(second);
  }
  ASSERT_TRUE(BackingExists(name)) << "a moved-from owner let go of the block";
  EXPECT_EQ(kept.view()[7], std::byte{0x42});
  kept.Reset();
  EXPECT_FALSE(BackingExists(name));
}

TEST_F(OwnedBlockOnTheSystem, LocksThroughItsOwnHandle) {
  const std::string name = UniqueName("owned-lock");
  OwnedBlock first(memory_, memory_.CreateOrOpen(name, kBlockSize).handle);
  OwnedBlock second(memory_, memory_.Open(name).handle);
  ASSERT_NE(second.handle(), 0u);
  ASSERT_EQ(first.Lock(0), std::error_code());
  EXPECT_EQ(second.Lock(0), SystemError::kWaitTimeout);
  first.Unlock();
  ASSERT_EQ(second.Lock(0), std::error_code());
  second.Unlock();
}

}  // namespace
}  // namespace dovel::platform::shm_test
