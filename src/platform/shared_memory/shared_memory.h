#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/core/current.h"

namespace dovel::platform {

// Opaque handle of an open named block; 0 means "no handle".
using BlockHandle = std::uintptr_t;

inline constexpr std::uint32_t kBlockSize = 1024;

struct OpenResult {
  BlockHandle handle = 0;  // non-zero on success
  std::int32_t status = 0; // the thread's last error right after the call
};

struct MapResult {
  std::byte* view = nullptr;  // non-null on success
  std::int32_t status = 0;    // 0, or the system error code of the failure
};

// Named shared-memory blocks that any process of the same user can open by
// name. Every operation mirrors one Windows call; status values are Windows
// system error codes.
//
// Lifetime: a block exists while at least one handle to it is open in any
// process. Closing the last handle destroys it; creating the name again then
// yields a new zero-filled block. A mapped view keeps its block alive even
// after its handle is closed; cleanup happens in whichever of Unmap and Close
// runs last.
//
// Names: up to 200 8-bit characters, matched exactly; empty names and names
// with '/' or '\' or NUL are refused with 123 (kInvalidName), longer ones with
// 206, before anything is touched.
//
// Threads: every method may be called from any thread. A forked child does
// not inherit handles or views (nor a descriptor of a call in flight on
// another thread); it opens its own.
//
// Other processes: no call waits for another process without a bound. On
// POSIX, opening, creating and closing take a short per-block lock that any
// process of the user can hold; an open or create that cannot get it within
// 20 ms fails with 258 (WAIT_TIMEOUT) and changes nothing, so the caller may
// simply try again later. A close that cannot get it returns at once and is
// finished by the POSIX layer as soon as the lock is free; until then the
// block lives on as if the handle were still open.
class SharedMemory {
 public:
  virtual ~SharedMemory() = default;

  // CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, name).
  // New block: handle, status 0, all `size` bytes zero. Existing block:
  // handle to it, status 183, content and size untouched. Failure: handle 0
  // and the error code (5 for a name held by another user, 123 for a bad
  // name, 4 when out of descriptors, 1450 when shared memory is full, 87 for
  // size 0, 258 on POSIX when another process kept the block locked).
  // Atomic: of two processes racing on a new name exactly one sees status 0.
  // On POSIX a block is never smaller than kBlockSize.
  virtual OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) = 0;

  // OpenFileMappingA(FILE_MAP_WRITE, FALSE, name). Never creates. Handle and
  // status 0, or handle 0 and 2 when no block bears the name. On POSIX also
  // 258 when another process kept the block locked, and 1450 when the
  // block's memory cannot be reserved (another client sized it without
  // reserving it, and shared memory is full).
  virtual OpenResult Open(std::string_view name) = 0;

  // MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0): a read/write view of the
  // whole block. 6 for a handle that is not open, 1450 on POSIX when the
  // block has grown since it was opened and shared memory is full.
  virtual MapResult Map(BlockHandle handle) = 0;

  // UnmapViewOfFile(view). Unknown or null views are ignored.
  virtual void Unmap(std::byte* view) = 0;

  // CloseHandle(handle). Unknown or zero handles are ignored.
  virtual void Close(BlockHandle handle) = 0;

  // A lock on a block that every process opening it can take, for a change
  // of several fields that others must not interleave with (a list's links).
  // Waits at most `timeout_ms`: 0 when acquired, 258 (WAIT_TIMEOUT) when the
  // block stayed locked, 6 for a handle that is not open. Held per handle:
  // two handles in one process exclude each other too. Released by Unlock,
  // by closing the handle, and by the system when the holder dies (an
  // abandoned lock counts as acquired by the next taker). On Windows: a
  // named mutex derived from the block's name.
  // Threads: not concurrently with Close of the same handle. On Windows the
  // mutex belongs to the thread that took it, so Unlock, or Close of a
  // locked handle, must run on that thread.
  virtual std::int32_t Lock(BlockHandle handle, std::uint32_t timeout_ms) = 0;
  virtual void Unlock(BlockHandle handle) = 0;
};

template <>
SharedMemory& SystemDefault<SharedMemory>();

inline SharedMemory& CurrentSharedMemory() { return Current<SharedMemory>::Get(); }

// Removes this user's blocks whose holders all ended without closing them
// (a crashed client, a killed server). Returns how many were removed. Blocks
// that any live process still holds are never touched.
int SweepStaleBlocks();

}  // namespace dovel::platform
