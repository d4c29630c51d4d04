#include "platform/shared_memory/shm_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "platform/shared_memory/shm_test_support_posix.h"
#endif

#include <gmock/gmock.h>
#include <algorithm>
#include <atomic>

namespace dovel::platform::shm_test {

#ifdef _WIN32

std::string ProcessToken() { return "smt" + std::to_string(GetCurrentProcessId()) + "-"; }

// The mapping's name as the Win32 implementation spells it: each 8-bit
// character widened to the UTF-16 unit of the same value.
bool BackingExists(std::string_view name) {
  std::wstring wide;
  for (const char c : name) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, wide.c_str());
  if (mapping == nullptr) return false;
  CloseHandle(mapping);
  return true;
}

#else

std::string ProcessToken() { return "smt" + std::to_string(getpid()) + "-"; }

#endif

std::string UniqueName(std::string_view tag) {
  static std::atomic<int> counter{0};
  return ProcessToken() + std::string(tag) + "-" + std::to_string(++counter);
}

bool AllZero(const std::byte* view, std::size_t size) {
  return std::all_of(view, view + size, [](std::byte b) { return b == std::byte{0}; });
}

void SharedMemoryTest::TearDown() {
  for (std::byte* view : views_) memory_.Unmap(view);
  for (BlockHandle handle : handles_) memory_.Close(handle);
#ifdef _WIN32
  for (const std::string& name : names_) EXPECT_FALSE(BackingExists(name)) << name;
#else
  EXPECT_THAT(ShmEntriesContaining(ProcessToken()), ::testing::IsEmpty());
#endif
}

OpenResult SharedMemoryTest::Create(const std::string& name) {
  const OpenResult result = memory_.CreateOrOpen(name, kBlockSize);
  if (result.handle != 0) {
    handles_.push_back(result.handle);
    names_.push_back(name);
  }
  return result;
}

OpenResult SharedMemoryTest::Open(const std::string& name) {
  const OpenResult result = memory_.Open(name);
  if (result.handle != 0) {
    handles_.push_back(result.handle);
    names_.push_back(name);
  }
  return result;
}

std::byte* SharedMemoryTest::Map(BlockHandle handle) {
  const MapResult result = memory_.Map(handle);
  if (result.view != nullptr) views_.push_back(result.view);
  return result.view;
}

}  // namespace dovel::platform::shm_test
