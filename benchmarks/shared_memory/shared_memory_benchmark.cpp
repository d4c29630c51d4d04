// Cost of the block lifetime protocol against the raw shm_open/mmap cycle it
// is built on, measured in the same run. Each protocol case has a Raw twin
// doing the same work without locks; compare them pairwise.
//
// Cases that measure only half of a cycle time that half by hand
// (UseManualTime); the other half runs untimed in the same iteration.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/shared_memory/shared_memory.h"

namespace {

using dovel::platform::BlockHandle;
using dovel::platform::CurrentSharedMemory;
using dovel::platform::kBlockSize;
using dovel::platform::SharedMemory;
using Clock = std::chrono::steady_clock;

std::string Name(const char* what) { return std::string("bench-") + what + "-" + std::to_string(getpid()); }
std::string RawObject(const char* what) { return "/dovel-raw-" + Name(what); }

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// --- the protocol --------------------------------------------------------

void CreateOrOpenAndMap(benchmark::State& state) {
  SharedMemory& memory = CurrentSharedMemory();
  const std::string name = Name("create");
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto created = memory.CreateOrOpen(name, kBlockSize);
    const auto mapped = memory.Map(created.handle);
    state.SetIterationTime(Seconds(start));
    if (created.status || mapped.view == nullptr) state.SkipWithError("create failed");
    memory.Unmap(mapped.view);
    memory.Close(created.handle);
  }
}

void OpenAndMap(benchmark::State& state) {
  SharedMemory& memory = CurrentSharedMemory();
  const std::string name = Name("open");
  const auto keeper = memory.CreateOrOpen(name, kBlockSize);
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto opened = memory.Open(name);
    const auto mapped = memory.Map(opened.handle);
    state.SetIterationTime(Seconds(start));
    if (mapped.view == nullptr) state.SkipWithError("open failed");
    memory.Unmap(mapped.view);
    memory.Close(opened.handle);
  }
  memory.Close(keeper.handle);
}

// Arg 1: the last handle, so the close also destroys the block.
void UnmapAndClose(benchmark::State& state) {
  SharedMemory& memory = CurrentSharedMemory();
  const std::string name = Name("close");
  const bool last = state.range(0) == 1;
  const auto keeper = last ? dovel::platform::OpenResult{} : memory.CreateOrOpen(name, kBlockSize);
  for (auto _ : state) {
    const auto opened = memory.CreateOrOpen(name, kBlockSize);
    const auto mapped = memory.Map(opened.handle);
    if (mapped.view == nullptr) state.SkipWithError("open failed");
    const auto start = Clock::now();
    memory.Unmap(mapped.view);
    memory.Close(opened.handle);
    state.SetIterationTime(Seconds(start));
  }
  memory.Close(keeper.handle);
}

// --- the raw baseline: the same system calls minus the lifetime protocol ---

int RawCreate(const std::string& object) {
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd >= 0 && ftruncate(fd, kBlockSize) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void* RawMap(int fd) { return mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0); }

void RawCreateAndMap(benchmark::State& state) {
  const std::string object = RawObject("create");
  for (auto _ : state) {
    const auto start = Clock::now();
    const int fd = RawCreate(object);
    void* view = RawMap(fd);
    state.SetIterationTime(Seconds(start));
    if (view == MAP_FAILED) state.SkipWithError("raw create failed");
    munmap(view, kBlockSize);
    close(fd);
    shm_unlink(object.c_str());
  }
}

void RawOpenAndMap(benchmark::State& state) {
  const std::string object = RawObject("open");
  const int keeper = RawCreate(object);
  for (auto _ : state) {
    const auto start = Clock::now();
    const int fd = shm_open(object.c_str(), O_RDWR, 0);
    void* view = RawMap(fd);
    state.SetIterationTime(Seconds(start));
    if (view == MAP_FAILED) state.SkipWithError("raw open failed");
    munmap(view, kBlockSize);
    close(fd);
  }
  close(keeper);
  shm_unlink(object.c_str());
}

// Arg 1: also unlink, as the last close of a block does.
void RawUnmapAndClose(benchmark::State& state) {
  const std::string object = RawObject("close");
  const bool last = state.range(0) == 1;
  const int keeper = last ? -1 : RawCreate(object);
  for (auto _ : state) {
    const int fd = last ? RawCreate(object) : shm_open(object.c_str(), O_RDWR, 0);
    void* view = RawMap(fd);
    if (view == MAP_FAILED) state.SkipWithError("raw open failed");
    const auto start = Clock::now();
    munmap(view, kBlockSize);
    close(fd);
    if (last) shm_unlink(object.c_str());
    state.SetIterationTime(Seconds(start));
  }
  if (keeper >= 0) close(keeper);
  shm_unlink(object.c_str());
}

// --- field access: a view against ordinary heap memory ---------------------

// Arg: bytes copied (2: a small header field, 76: a record).
template <bool kWrite>
void FieldCopy(benchmark::State& state, std::byte* block) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::byte local[128] = {};
  std::size_t offset = 0;
  for (auto _ : state) {
    if constexpr (kWrite) {
      std::memcpy(block + offset, local, size);
    } else {
      std::memcpy(local, block + offset, size);
    }
    benchmark::DoNotOptimize(local);
    benchmark::ClobberMemory();
    offset = (offset + 128) % (kBlockSize - 128);
  }
}

template <bool kWrite>
void ViewField(benchmark::State& state) {
  SharedMemory& memory = CurrentSharedMemory();
  const auto opened = memory.CreateOrOpen(Name("field"), kBlockSize);
  const auto mapped = memory.Map(opened.handle);
  if (mapped.view == nullptr) {
    state.SkipWithError("create failed");
  } else {
    FieldCopy<kWrite>(state, mapped.view);
  }
  memory.Unmap(mapped.view);
  memory.Close(opened.handle);
}

template <bool kWrite>
void HeapField(benchmark::State& state) {
  std::vector<std::byte> block(kBlockSize);
  FieldCopy<kWrite>(state, block.data());
}

BENCHMARK(CreateOrOpenAndMap)->UseManualTime();
BENCHMARK(RawCreateAndMap)->UseManualTime();
BENCHMARK(OpenAndMap)->UseManualTime();
BENCHMARK(RawOpenAndMap)->UseManualTime();
BENCHMARK(UnmapAndClose)->Arg(0)->Arg(1)->UseManualTime();
BENCHMARK(RawUnmapAndClose)->Arg(0)->Arg(1)->UseManualTime();
BENCHMARK(ViewField<false>)->Name("ViewFieldRead")->Arg(2)->Arg(76);
BENCHMARK(HeapField<false>)->Name("HeapFieldRead")->Arg(2)->Arg(76);
BENCHMARK(ViewField<true>)->Name("ViewFieldWrite")->Arg(2)->Arg(76);
BENCHMARK(HeapField<true>)->Name("HeapFieldWrite")->Arg(2)->Arg(76);

}  // namespace

BENCHMARK_MAIN();
