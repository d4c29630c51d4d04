#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform::shm_test {

// Part of every name this test process uses; carries the pid so parallel
// runs never meet.
std::string ProcessToken();

// A fresh block name: token, tag and a counter.
std::string UniqueName(std::string_view tag);

// Whether the system still keeps the block `name`, looked at without
// holding it: its /dev/shm entry on POSIX, an openable mapping on Windows.
bool BackingExists(std::string_view name);

bool AllZero(const std::byte* view, std::size_t size);

// Handles and views a test still owns are closed in TearDown (Close and Unmap
// ignore the ones already gone), and the test must have left no block behind:
// no /dev/shm entry of this process on POSIX, none of the names it opened on
// Windows.
class SharedMemoryTest : public ::testing::Test {
 protected:
  void TearDown() override;

  OpenResult Create(const std::string& name);
  OpenResult Open(const std::string& name);
  std::byte* Map(BlockHandle handle);

  SharedMemory& memory_ = CurrentSharedMemory();

 private:
  std::vector<BlockHandle> handles_;
  std::vector<std::byte*> views_;
  std::vector<std::string> names_;  // every name a handle was opened for
};

}  // namespace dovel::platform::shm_test
