#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/core/current.h"
#include "platform/core/error_codes.h"

namespace dovel::platform {

// Opaque handle of an open named block; 0 means "no handle".
using BlockHandle = std::uintptr_t;

inline constexpr std::uint32_t kBlockSize = 1024;

struct [[nodiscard]] OpenResult {
  BlockHandle handle = 0;  // non-zero on success
  std::error_code status;  // the thread's last error right after the call
};

struct [[nodiscard]] MapResult {
  std::byte* view = nullptr;  // non-null on success
  std::error_code status;     // success, or the system error of the failure
};

// Named shared-memory blocks that any process of the same user can open by
// name. Every operation mirrors one Windows call; statuses are Windows system
// error codes (SystemError), success the empty status.
//
// Lifetime: a block exists while at least one handle to it is open in any
// process. Closing the last handle destroys it; creating the name again then
// yields a new zero-filled block. A mapped view keeps its block alive even
// after its handle is closed; cleanup happens in whichever of Unmap and Close
// runs last.
//
// Names: up to 200 8-bit characters, matched exactly; empty names and names
// with '/' or '\' or NUL are refused with kInvalidName (123), longer ones with
// kFilenameExcedRange (206), before anything is touched.
//
// Threads: every method may be called from any thread. A forked child does
// not inherit handles or views (nor a descriptor of a call in flight on
// another thread); it opens its own.
//
// Other processes: no call waits for another process without a bound. On
// POSIX, opening, creating and closing take a short per-block lock that any
// process of the user can hold; an open or create that cannot get it within
// 20 ms fails with kWaitTimeout (258) and changes nothing, so the caller may
// simply try again later. A close that cannot get it returns at once and is
// finished by the POSIX layer as soon as the lock is free; until then the
// block lives on as if the handle were still open.
class SharedMemory {
 public:
  virtual ~SharedMemory() = default;

  // CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, name).
  // New block: handle, success, all `size` bytes zero. Existing block:
  // handle to it and kAlreadyExists (183), content and size untouched.
  // Failure: handle 0 and the error (kAccessDenied 5 for a name held by
  // another user, kInvalidName 123 for a bad name, kTooManyOpenFiles 4 when
  // out of descriptors, kNoSystemResources 1450 when shared memory is full,
  // kInvalidParameter 87 for size 0, kWaitTimeout 258 on POSIX when another
  // process kept the block locked, kNotEnoughMemory 8 on POSIX when the layer
  // cannot keep forked children from inheriting blocks).
  // Atomic: of two processes racing on a new name exactly one sees success.
  // On POSIX a block is never smaller than kBlockSize.
  [[nodiscard]] virtual OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) = 0;

  // OpenFileMappingA(FILE_MAP_WRITE, FALSE, name). Never creates. Handle and
  // success, or handle 0 and kFileNotFound (2) when no block bears the name.
  // On POSIX also kWaitTimeout (258) when another process kept the block
  // locked, and kNoSystemResources (1450) when the block's memory cannot be
  // reserved (another client sized it without reserving it, and shared
  // memory is full).
  [[nodiscard]] virtual OpenResult Open(std::string_view name) = 0;

  // MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0): a read/write view of the
  // whole block. kInvalidHandle (6) for a handle that is not open,
  // kNoSystemResources (1450) on POSIX when the block has grown since it was
  // opened and shared memory is full.
  [[nodiscard]] virtual MapResult Map(BlockHandle handle) = 0;

  // UnmapViewOfFile(view). Unknown or null views are ignored.
  virtual void Unmap(std::byte* view) = 0;

  // CloseHandle(handle). Unknown or zero handles are ignored.
  virtual void Close(BlockHandle handle) = 0;

  // A lock on a block that every process opening it can take, for a change
  // of several fields that others must not interleave with (a list's links).
  // Waits at most `timeout_ms`: success when acquired, kWaitTimeout (258)
  // when the block stayed locked, kInvalidHandle (6) for a handle that is not
  // open. Held per handle:
  // two handles in one process exclude each other too. Released by Unlock,
  // by closing the handle, and by the system when the holder dies (an
  // abandoned lock counts as acquired by the next taker). On Windows: a
  // named mutex derived from the block's name.
  // Threads: not concurrently with Close of the same handle. On Windows the
  // mutex belongs to the thread that took it, so Unlock, or Close of a
  // locked handle, must run on that thread.
  [[nodiscard]] virtual std::error_code Lock(BlockHandle handle, std::uint32_t timeout_ms) = 0;
  virtual void Unlock(BlockHandle handle) = 0;
};

// One handle of a block and the view mapped through it, given back to the
// SharedMemory that handed them out when the owner goes: the view first,
// then the handle. Move-only; a moved-from owner holds nothing.
class OwnedBlock {
 public:
  OwnedBlock() = default;
  // Takes over `handle`, from CreateOrOpen or Open of `memory`; 0 makes an
  // owner of nothing.
  OwnedBlock(SharedMemory& memory, BlockHandle handle) noexcept;
  ~OwnedBlock() { Reset(); }
  OwnedBlock(OwnedBlock&& other) noexcept;
  OwnedBlock& operator=(OwnedBlock&& other) noexcept;
  OwnedBlock(const OwnedBlock&) = delete;
  OwnedBlock& operator=(const OwnedBlock&) = delete;

  // Maps the whole block and keeps the view; a mapped owner keeps its view.
  // The status of SharedMemory::Map; kInvalidHandle (6) without a handle.
  [[nodiscard]] std::error_code Map();

  BlockHandle handle() const noexcept { return handle_; }
  std::byte* view() const noexcept { return view_; }

  // SharedMemory::Lock and Unlock of the handle. Closing the handle releases
  // a lock still held.
  [[nodiscard]] std::error_code Lock(std::uint32_t timeout_ms);
  void Unlock();

  // Unmaps the view, then closes the handle; the owner holds nothing after.
  void Reset() noexcept;

 private:
  SharedMemory* memory_ = nullptr;
  BlockHandle handle_ = 0;
  std::byte* view_ = nullptr;
};

template <>
SharedMemory& SystemDefault<SharedMemory>();

inline SharedMemory& CurrentSharedMemory() { return Current<SharedMemory>::Get(); }

// Removes this user's blocks whose holders all ended without closing them
// (a crashed client, a killed server). Returns how many were removed. Blocks
// that any live process still holds are never touched.
int SweepStaleBlocks();

// One of this user's blocks as ListBlocks saw it: its name, and whether some
// live process held it at that instant (false: stale, the sweep would
// remove it).
struct ListedBlock {
  std::string name;
  bool live = false;
};

// This user's blocks by name, each looked at once. The look decides
// liveness as the sweep does but never removes a block, nor holds one after
// it returns. Empty on Windows, where a block goes with its last handle and
// the system keeps no list of them.
std::vector<ListedBlock> ListBlocks();

}  // namespace dovel::platform
