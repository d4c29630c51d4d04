// Blocks seen from a second process: `dovel block`, forked children that
// are killed while holding, the sweep and the listing, and other users.

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support_posix.h"

namespace dovel::platform::shm_test {
namespace {

using ::testing::StartsWith;

using SharedMemoryWithTool = SharedMemoryTest;

TEST_F(SharedMemoryWithTool, ReadsWhatThisProcessWrote) {
  const std::string name = UniqueName("tool-read");
  const OpenResult created = Create(name);
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);
  const unsigned char bytes[] = {0xde, 0xad, 0x00, 0x7f};
  std::memcpy(view + 1020, bytes, sizeof bytes);

  const ToolRun run = RunTool({"block", "read", name, "1019", "5"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "00dead007f\n");
}

TEST_F(SharedMemoryWithTool, WritesWhatThisProcessReads) {
  const std::string name = UniqueName("tool-write");
  const OpenResult created = Create(name);
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);

  const ToolRun run = RunTool({"block", "write", name, "10", "0102fF"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(view[10], std::byte{0x01});
  EXPECT_EQ(view[11], std::byte{0x02});
  EXPECT_EQ(view[12], std::byte{0xff});
  EXPECT_EQ(view[13], std::byte{0x00});
}

TEST_F(SharedMemoryWithTool, CreateReports183ForABlockHeldHereAndDestroysItsOwn) {
  const std::string held = UniqueName("tool-held");
  ASSERT_EQ(Create(held).status, std::error_code());
  const ToolRun existing = RunTool({"block", "create", held});
  EXPECT_EQ(existing.exit_code, 0) << existing.err;
  EXPECT_EQ(existing.out, "183\n");

  const std::string own = UniqueName("tool-own");
  const ToolRun fresh = RunTool({"block", "create", own});
  EXPECT_EQ(fresh.exit_code, 0) << fresh.err;
  EXPECT_EQ(fresh.out, "0\n");
  EXPECT_FALSE(BackingExists(own)) << "the tool closed the only handle";
  EXPECT_EQ(Open(own).status, SystemError::kFileNotFound);
}

TEST_F(SharedMemoryWithTool, BlockHeldByAnotherProcessLivesUntilItsLastHandleCloses) {
  const std::string name = UniqueName("tool-hold");
  HeldByTool holder(name, /*create=*/true);
  ASSERT_EQ(holder.status(), "0");

  const OpenResult opened = Open(name);
  ASSERT_EQ(opened.status, std::error_code());
  std::byte* view = Map(opened.handle);
  ASSERT_NE(view, nullptr);
  view[0] = std::byte{0xab};
  memory_.Unmap(view);
  memory_.Close(opened.handle);
  EXPECT_TRUE(BackingExists(name));
  EXPECT_EQ(RunTool({"block", "read", name, "0", "2"}).out, "ab00\n");

  EXPECT_EQ(holder.Release(), 0);
  EXPECT_FALSE(BackingExists(name));
  EXPECT_EQ(Open(name).status, SystemError::kFileNotFound);
}

TEST_F(SharedMemoryWithTool, ReportsFailuresAsWindowsCodes) {
  const ToolRun missing = RunTool({"block", "open", UniqueName("tool-missing")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.err, StartsWith("2\ndovel: block "));
  const ToolRun hold_missing = RunTool({"block", "hold", UniqueName("tool-missing")});
  EXPECT_EQ(hold_missing.exit_code, 1);
  EXPECT_THAT(hold_missing.err, StartsWith("2\n"));
  const ToolRun bad_name = RunTool({"block", "create", ProcessToken() + "a/b"});
  EXPECT_EQ(bad_name.exit_code, 1);
  EXPECT_THAT(bad_name.err, StartsWith("123\n"));

  const std::string name = UniqueName("tool-args");
  ASSERT_EQ(Create(name).status, std::error_code());
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"read", name, "1020", "5"},
           {"read", name, "-1", "1"},
           {"write", name, "1023", "0102"},
           {"write", name, "0", "abc"},
           {"write", name, "0", "zz"},
           {"frobnicate"},
           {"read", name, "0"},
       }) {
    std::vector<std::string> line{"block"};
    line.insert(line.end(), args.begin(), args.end());
    const ToolRun run = RunTool(line);
    EXPECT_EQ(run.exit_code, 2) << args[0];
    EXPECT_THAT(run.err, StartsWith("87\n"));
  }
}

using SharedMemoryAfterACrash = SharedMemoryTest;

TEST_F(SharedMemoryAfterACrash, BlockOfAKilledHolderIsGoneForOpenAndCreate) {
  const StaleBlockLock lock;
  const std::string name = UniqueName("killed");
  ASSERT_TRUE(LeaveStaleBlock(name));

  const OpenResult opened = Open(name);
  EXPECT_EQ(opened.handle, 0u);
  EXPECT_EQ(opened.status, SystemError::kFileNotFound);
  EXPECT_FALSE(BackingExists(name)) << "the open removes what it found stale";

  ASSERT_TRUE(LeaveStaleBlock(name));
  const OpenResult created = Create(name);
  EXPECT_EQ(created.status, std::error_code());
  std::byte* view = Map(created.handle);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(AllZero(view, kBlockSize));
}

TEST_F(SharedMemoryAfterACrash, SweepRemovesStaleBlocksAndNeverHeldOnes) {
  const StaleBlockLock lock;
  const std::string stale = UniqueName("sweep-stale");
  const std::string held_here = UniqueName("sweep-here");
  const std::string held_there = UniqueName("sweep-there");
  ASSERT_TRUE(LeaveStaleBlock(stale));
  const OpenResult here = Create(held_here);
  Map(here.handle)[0] = std::byte{0x11};
  HeldByTool there(held_there, /*create=*/true);
  ASSERT_EQ(there.status(), "0");
  ASSERT_TRUE(BackingExists(stale));

  EXPECT_GE(SweepStaleBlocks(), 1);
  EXPECT_FALSE(BackingExists(stale));
  EXPECT_TRUE(BackingExists(held_here));
  EXPECT_TRUE(BackingExists(held_there));
  EXPECT_EQ(RunTool({"block", "read", held_here, "0", "1"}).out, "11\n");
  EXPECT_EQ(Open(held_there).status, std::error_code());
  EXPECT_EQ(there.Release(), 0);
}

TEST_F(SharedMemoryAfterACrash, ToolSweepRemovesStaleBlocks) {
  const StaleBlockLock lock;
  const std::string stale = UniqueName("tool-sweep");
  ASSERT_TRUE(LeaveStaleBlock(stale));
  ASSERT_TRUE(BackingExists(stale));
  const ToolRun run = RunTool({"sweep"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_GE(std::stoi(run.out), 1);
  EXPECT_FALSE(BackingExists(stale));
}

TEST_F(SharedMemoryAfterACrash, ListingTellsLiveFromStaleAndKeepsOrRemovesNothing) {
  const StaleBlockLock lock;
  const std::string stale = UniqueName("list-stale");
  const std::string held_here = UniqueName("list-here");
  const std::string held_there = UniqueName("list-there");
  ASSERT_TRUE(LeaveStaleBlock(stale));
  ASSERT_EQ(Create(held_here).status, std::error_code());
  HeldByTool there(held_there, /*create=*/true);
  ASSERT_EQ(there.status(), "0");

  std::map<std::string, bool> seen;
  for (const ListedBlock& block : ListBlocks()) {
    if (block.name.starts_with(ProcessToken())) seen[block.name] = block.live;
  }
  EXPECT_EQ(seen, (std::map<std::string, bool>{{stale, false}, {held_here, true}, {held_there, true}}));
  EXPECT_TRUE(BackingExists(stale)) << "the look removed a stale block";
  EXPECT_EQ(Open(stale).status, SystemError::kFileNotFound) << "the look left the stale block held";
  EXPECT_EQ(there.Release(), 0);
  EXPECT_FALSE(BackingExists(held_there)) << "the look kept a hold on a live block";
}

constexpr uid_t kNobody = 65534;

class SharedMemoryOtherUsers : public SharedMemoryTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  }
  // An object under `uid`'s internal name for `name`, owned by `owner`.
  void Squat(const std::string& name, unsigned uid, uid_t owner, mode_t mode) {
    const std::string object = BackingPath(name, uid).substr(std::strlen("/dev/shm"));
    const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    squats_.push_back(object);
    ASSERT_EQ(fchmod(fd, mode), 0);
    ASSERT_EQ(fchown(fd, owner, owner), 0);
    close(fd);
  }
  void TearDown() override {
    for (const std::string& object : squats_) shm_unlink(object.c_str());
    SharedMemoryTest::TearDown();
  }

 private:
  std::vector<std::string> squats_;
};

TEST_F(SharedMemoryOtherUsers, ObjectOwnedBySomeoneElseIsRefusedAndLeftAlone) {
  const std::string name = UniqueName("squat");
  Squat(name, geteuid(), kNobody, 0666);

  const OpenResult created = Create(name);
  EXPECT_EQ(created.handle, 0u);
  EXPECT_EQ(created.status, SystemError::kAccessDenied);
  const OpenResult opened = Open(name);
  EXPECT_EQ(opened.handle, 0u);
  EXPECT_EQ(opened.status, SystemError::kAccessDenied);
  {
    const StaleBlockLock lock;
    SweepStaleBlocks();
  }

  struct stat info {};
  ASSERT_EQ(stat(BackingPath(name).c_str(), &info), 0) << "neither the calls nor a sweep removed it";
  EXPECT_EQ(info.st_uid, kNobody);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(SharedMemoryOtherUsers, UnprivilegedUserGetsItsOwnNamespaceAndIsRefusedSquats) {
  const std::string own = UniqueName("user-own");
  const std::string unreadable = UniqueName("user-0600");
  const std::string readable = UniqueName("user-0666");
  const std::string roots = UniqueName("user-roots");
  Squat(unreadable, kNobody, 0, 0600);
  Squat(readable, kNobody, 0, 0666);
  const OpenResult root_block = Create(roots);
  ASSERT_EQ(root_block.status, std::error_code());

  ForkedChild child([&](int report) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) return 1;
    SharedMemory& memory = CurrentSharedMemory();
    auto status = [&](const OpenResult& result) {
      memory.Close(result.handle);
      return std::to_string(ErrorNumber(result.status));
    };
    Report(report, "open 0600 " + status(memory.Open(unreadable)));
    Report(report, "create 0600 " + status(memory.CreateOrOpen(unreadable, kBlockSize)));
    Report(report, "open 0666 " + status(memory.Open(readable)));
    Report(report, "create 0666 " + status(memory.CreateOrOpen(readable, kBlockSize)));
    Report(report, "open root's " + status(memory.Open(roots)));
    const OpenResult mine = memory.CreateOrOpen(own, kBlockSize);
    struct stat info {};
    const bool owned = stat(BackingPath(own, kNobody).c_str(), &info) == 0 && info.st_uid == kNobody;
    Report(report, "create own " + std::to_string(ErrorNumber(mine.status)) + (owned ? " owned" : " not owned"));
    memory.Close(mine.handle);
    Report(report, "own after close " + status(memory.Open(own)));
    return 0;
  });
  EXPECT_EQ(child.ReadLine(), "open 0600 5");
  EXPECT_EQ(child.ReadLine(), "create 0600 5");
  EXPECT_EQ(child.ReadLine(), "open 0666 5");
  EXPECT_EQ(child.ReadLine(), "create 0666 5");
  EXPECT_EQ(child.ReadLine(), "open root's 2");
  EXPECT_EQ(child.ReadLine(), "create own 0 owned");
  EXPECT_EQ(child.ReadLine(), "own after close 2");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_NE(access(BackingPath(own, kNobody).c_str(), F_OK), 0);
}

using SharedMemoryLimits = SharedMemoryTest;

TEST_F(SharedMemoryLimits, OutOfDescriptorsGives4) {
  const std::string existing = UniqueName("fd-existing");
  const std::string fresh = UniqueName("fd-fresh");
  ForkedChild child([&](int report) {
    SharedMemory& memory = CurrentSharedMemory();
    const OpenResult held = memory.CreateOrOpen(existing, kBlockSize);
    const rlimit limit{64, 64};
    if (held.status || setrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
    while (open("/dev/null", O_RDONLY) >= 0) {
    }
    Report(report, "open " + std::to_string(ErrorNumber(memory.Open(existing).status)));
    Report(report, "create " + std::to_string(ErrorNumber(memory.CreateOrOpen(fresh, kBlockSize).status)));
    memory.Close(held.handle);
    return 0;
  });
  EXPECT_EQ(child.ReadLine(), "open 4");
  EXPECT_EQ(child.ReadLine(), "create 4");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_FALSE(BackingExists(fresh));
  EXPECT_FALSE(BackingExists(existing));
}

#if defined(__x86_64__)

// From here on every fchmod of the calling process fails with EPERM.
bool RefuseFchmod() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fchmod, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Under a narrowing umask the creator widens the mode to 0600; a block it
// could not widen would refuse its other openers, so it is not handed out.
TEST_F(SharedMemoryLimits, ModeThatCannotBeWidenedFailsTheCreateAndLeavesNoBlock) {
  const std::string name = UniqueName("narrow");
  ForkedChild child([&](int report) {
    if (!RefuseFchmod()) {
      Report(report, "no filter");
      return 0;
    }
    umask(0277);
    const OpenResult created = CurrentSharedMemory().CreateOrOpen(name, kBlockSize);
    const std::string left = BackingExists(name) ? " left" : " clean";
    Report(report, "create " + std::to_string(ErrorNumber(created.status)) + left);
    CurrentSharedMemory().Close(created.handle);
    return 0;
  });
  const std::string line = child.ReadLine();
  EXPECT_EQ(child.Wait(), 0);
  if (line == "no filter") GTEST_SKIP() << "cannot install a seccomp filter here";
  EXPECT_EQ(line, "create 5 clean");
  EXPECT_FALSE(BackingExists(name));
}

#endif

// A private mount namespace with a tiny /dev/shm, so filling it disturbs no
// one else.
TEST_F(SharedMemoryLimits, FullSharedMemoryGives1450AndLeavesNoHalfMadeBlock) {
  const std::string name = UniqueName("full");
  ForkedChild child([&](int report) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=8k") != 0) {
      Report(report, "no namespace");
      return 0;
    }
    const int filler = open("/dev/shm/filler", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (posix_fallocate(filler, 0, lseek(filler, 0, SEEK_END) + 4096) == 0) {
    }
    const OpenResult created = CurrentSharedMemory().CreateOrOpen(name, kBlockSize);
    const std::string left = BackingExists(name) ? " left" : " clean";
    Report(report, "create " + std::to_string(ErrorNumber(created.status)) + left);
    return 0;
  });
  const std::string line = child.ReadLine();
  EXPECT_EQ(child.Wait(), 0);
  if (line == "no namespace") GTEST_SKIP() << "cannot mount a private /dev/shm here";
  EXPECT_EQ(line, "create 1450 clean");
}

// Another client may size a block with ftruncate alone, which reserves no
// pages: on a full store the first touch of such a block is SIGBUS. The
// opener must find out first and refuse it, and so must Map after the block
// grew the same way. Runs in its own mount namespace, as above.
TEST_F(SharedMemoryLimits, BlockSizedWithoutReservingOnAFullStoreGives1450InsteadOfAFault) {
  const std::string sized_elsewhere = UniqueName("unreserved");
  const std::string grown_elsewhere = UniqueName("grown");
  constexpr off_t kGrownSize = 4 * 4096;  // pages past the one its creator reserved
  ForkedChild child([&](int report) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=8k") != 0) {
      Report(report, "no namespace");
      return 0;
    }
    SharedMemory& memory = CurrentSharedMemory();
    const OpenResult ours = memory.CreateOrOpen(grown_elsewhere, kBlockSize);
    const int filler = open("/dev/shm/filler", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (posix_fallocate(filler, 0, lseek(filler, 0, SEEK_END) + 4096) == 0) {
    }
    // The other client follows the holding protocol but sizes with ftruncate.
    auto other_client = [](const std::string& name, bool create, off_t size) {
      const std::string object = BackingPath(name).substr(std::strlen("/dev/shm"));
      const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
      return fd >= 0 && flock(fd, LOCK_SH) == 0 && ftruncate(fd, size) == 0;
    };
    if (ours.status || !other_client(sized_elsewhere, true, kBlockSize) ||
        !other_client(grown_elsewhere, false, kGrownSize)) {
      Report(report, "no setup");
      return 0;
    }
    const auto touch = [&](BlockHandle handle) {
      const MapResult mapped = memory.Map(handle);
      if (mapped.view != nullptr) std::memset(mapped.view, 0x5A, kBlockSize);
    };
    const OpenResult opened = memory.Open(sized_elsewhere);
    Report(report, "open " + std::to_string(ErrorNumber(opened.status)));
    touch(opened.handle);
    const OpenResult created = memory.CreateOrOpen(sized_elsewhere, kBlockSize);
    Report(report, "create " + std::to_string(ErrorNumber(created.status)));
    touch(created.handle);
    const MapResult grown = memory.Map(ours.handle);
    Report(report, "map grown " + std::to_string(ErrorNumber(grown.status)));
    if (grown.view != nullptr) std::memset(grown.view, 0x5A, kGrownSize);
    Report(report, "done");
    return 0;
  });
  const std::string first = child.ReadLine();
  if (first == "no namespace") GTEST_SKIP() << "cannot mount a private /dev/shm here";
  EXPECT_EQ(first, "open 1450");
  EXPECT_EQ(child.ReadLine(), "create 1450");
  EXPECT_EQ(child.ReadLine(), "map grown 1450");
  EXPECT_EQ(child.ReadLine(), "done");
  EXPECT_EQ(child.Wait(), 0) << "128 + 7 is SIGBUS";
}

}  // namespace
}  // namespace dovel::platform::shm_test
