// Named blocks as Windows file mappings backed by the paging file. What this
// file adds to the plain calls is what the contract asks beyond them:
//   - handles and views are looked up in tables of this process, so a stale,
//     forged or already closed value (Windows reuses handle values at once)
//     is refused or ignored instead of reaching someone else's object;
//   - names are checked the same way as on POSIX, before any call;
//   - the lock excludes two handles of one process from each other, which a
//     Win32 mutex alone would not (it is recursive for its owning thread);
//   - a closed handle's mapping handle is kept until the last view made
//     through it is unmapped. Windows documents that views keep the object
//     alive, but Wine drops the name with the last handle, and a view that
//     outlives its handle must keep the block openable by name.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform {
namespace {

constexpr std::size_t kMaxNameLength = 200;

// A block name can never contain '/', so no block is ever named like the
// mutex of another block (mappings and mutexes share one namespace).
constexpr std::wstring_view kLockSuffix = L"/lock";

[[nodiscard]] std::error_code CheckName(std::string_view name) {
  constexpr std::string_view kRefused("/\\\0", 3);
  if (name.empty() || name.find_first_of(kRefused) != std::string_view::npos) return SystemError::kInvalidName;
  if (name.size() > kMaxNameLength) return SystemError::kFilenameExcedRange;
  return {};
}

// Each 8-bit character becomes the UTF-16 unit of the same value. Going
// through the ANSI code page instead would make the match depend on the
// machine's locale (a UTF-8 code page folds distinct invalid bytes together),
// while names must match byte for byte. Block names in practice are GUID
// text, identical either way.
std::wstring WideName(std::string_view name) {
  std::wstring wide;
  wide.reserve(name.size() + kLockSuffix.size());
  for (const char c : name) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

[[nodiscard]] std::error_code LastError() { return SystemStatus(static_cast<std::int32_t>(GetLastError())); }

// The one owner of a mapping or mutex handle.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

  void reset() noexcept {
    // Fails only for a value that is not an open handle; an owner holds
    // exactly what the system handed out.
    if (handle_ != nullptr) static_cast<void>(CloseHandle(std::exchange(handle_, nullptr)));
  }

 private:
  HANDLE handle_ = nullptr;
};

// The one owner of a view from MapViewOfFile.
class UniqueView {
 public:
  UniqueView() = default;
  explicit UniqueView(void* address) noexcept : address_(address) {}
  ~UniqueView() { reset(); }
  UniqueView(UniqueView&& other) noexcept : address_(std::exchange(other.address_, nullptr)) {}
  UniqueView& operator=(UniqueView&& other) noexcept {
    if (this != &other) {
      reset();
      address_ = std::exchange(other.address_, nullptr);
    }
    return *this;
  }
  UniqueView(const UniqueView&) = delete;
  UniqueView& operator=(const UniqueView&) = delete;

  std::byte* get() const noexcept { return static_cast<std::byte*>(address_); }

  void reset() noexcept {
    // Fails only for an address that is not a view's base; an owner holds
    // exactly what MapViewOfFile returned.
    if (address_ != nullptr) static_cast<void>(UnmapViewOfFile(std::exchange(address_, nullptr)));
  }

 private:
  void* address_ = nullptr;
};

struct Block {
  UniqueHandle mapping;
  std::wstring name;
  bool open = true;  // false once Close ran; views may still keep it
  std::size_t views = 0;
  UniqueHandle mutex;   // made at the first Lock
  bool locked = false;  // this handle holds the lock
};

struct View {
  BlockHandle handle;  // the handle it was made through
  UniqueView view;
};

// Which handle of this process holds the lock of a name, if any. The Win32
// mutex only decides between processes; between the handles of one process
// this table does, since a thread that owns a mutex acquires it again at once.
struct Gate {
  BlockHandle holder = 0;
  int users = 0;  // handles waiting for or holding the lock
};

class Win32SharedMemory final : public SharedMemory {
 public:
  // Never destroyed: other statics may still close handles during exit.
  static Win32SharedMemory& Instance() {
    static Win32SharedMemory* const instance = new Win32SharedMemory();
    return *instance;
  }

  [[nodiscard]] OpenResult CreateOrOpen(std::string_view name, std::uint32_t size) override {
    if (const std::error_code status = CheckName(name)) return {0, status};
    if (size == 0) return {0, SystemError::kInvalidParameter};
    std::wstring wide = WideName(name);
    SetLastError(0);
    UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, wide.c_str()));
    const std::error_code status = LastError();
    if (!mapping) return {0, status};
    return {Adopt(std::move(mapping), std::move(wide)), status};
  }

  [[nodiscard]] OpenResult Open(std::string_view name) override {
    if (const std::error_code status = CheckName(name)) return {0, status};
    std::wstring wide = WideName(name);
    UniqueHandle mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, wide.c_str()));
    if (!mapping) return {0, LastError()};
    return {Adopt(std::move(mapping), std::move(wide)), {}};
  }

  [[nodiscard]] MapResult Map(BlockHandle handle) override {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    if (found == blocks_.end() || !found->second->open) return {nullptr, SystemError::kInvalidHandle};
    UniqueView owned(MapViewOfFile(found->second->mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (owned.get() == nullptr) return {nullptr, LastError()};
    std::byte* view = owned.get();
    views_.emplace(view, View{handle, std::move(owned)});
    ++found->second->views;
    return {view, {}};
  }

  // Only a base address this process mapped is passed on: the system would
  // unmap the whole view for any address inside it.
  void Unmap(std::byte* view) override {
    UniqueHandle done;  // closed once the table's lock is dropped
    {
      const std::lock_guard lock(mutex_);
      const auto found = views_.find(view);
      if (found == views_.end()) return;
      const auto owner = blocks_.find(found->second.handle);
      views_.erase(found);  // unmaps it
      if (--owner->second->views == 0 && !owner->second->open) {
        done = std::move(owner->second->mapping);
        blocks_.erase(owner);
      }
    }
  }

  void Close(BlockHandle handle) override {
    // Closed once the table's lock is dropped: the mutex first, then the
    // mapping.
    UniqueHandle mapping;
    UniqueHandle mutex;
    {
      const std::lock_guard lock(mutex_);
      const auto found = blocks_.find(handle);
      if (found == blocks_.end() || !found->second->open) return;
      Block& block = *found->second;
      block.open = false;
      if (block.locked) ReleaseLocked(handle, block);
      if (block.mutex) LeaveGate(block.name);
      mutex = std::move(block.mutex);
      if (block.views == 0) {
        mapping = std::move(block.mapping);
        blocks_.erase(found);
      }
    }
  }

  // The mutex is owned by the thread that took it: Unlock, and Close of a
  // locked handle, must run on that thread (the store's list lock does both
  // in one scope). A holder that dies leaves the mutex abandoned, and the
  // next taker gets it.
  [[nodiscard]] std::error_code Lock(BlockHandle handle, std::uint32_t timeout_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock lock(mutex_);
    const auto found = blocks_.find(handle);
    if (found == blocks_.end() || !found->second->open) return SystemError::kInvalidHandle;
    Block& block = *found->second;
    if (block.locked) return {};  // one hold per handle, as with a POSIX lock
    if (!block.mutex) {
      std::wstring mutex_name = block.name;
      mutex_name.append(kLockSuffix);
      block.mutex = UniqueHandle(CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
      if (!block.mutex) return LastError();
      ++gates_[block.name].users;
    }
    Gate& gate = gates_[block.name];
    const auto free = [&] { return gate.holder == 0; };
    if (timeout_ms == INFINITE) {
      gate_changed_.wait(lock, free);
    } else if (!gate_changed_.wait_until(lock, deadline, free)) {
      return SystemError::kWaitTimeout;
    }
    // Claimed for this process; other processes are decided by the mutex,
    // waited for without the table's lock.
    gate.holder = handle;
    // Lent while the table's lock is dropped: Close does not run
    // concurrently with Lock of the same handle.
    HANDLE mutex = block.mutex.get();
    const std::wstring name = block.name;
    lock.unlock();
    DWORD wait_ms = INFINITE;
    if (timeout_ms != INFINITE) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait_ms = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }
    const DWORD waited = WaitForSingleObject(mutex, wait_ms);
    const std::error_code failure = waited == WAIT_FAILED ? LastError() : std::error_code();
    lock.lock();
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      Block& still = *blocks_.at(handle);  // Close may not run concurrently with Lock
      still.locked = true;
      return {};
    }
    gates_[name].holder = 0;
    gate_changed_.notify_all();
    if (waited == WAIT_TIMEOUT) return SystemError::kWaitTimeout;
    return failure;
  }

  void Unlock(BlockHandle handle) override {
    const std::lock_guard lock(mutex_);
    const auto found = blocks_.find(handle);
    if (found == blocks_.end() || !found->second->open || !found->second->locked) return;
    ReleaseLocked(handle, *found->second);
  }

 private:
  Win32SharedMemory() = default;

  BlockHandle Adopt(UniqueHandle mapping, std::wstring name) {
    const std::lock_guard lock(mutex_);
    // Our own numbers, never reused, rather than the system's handle values.
    const BlockHandle handle = ++last_handle_;
    auto block = std::make_unique<Block>();
    block->mapping = std::move(mapping);
    block->name = std::move(name);
    blocks_.emplace(handle, std::move(block));
    return handle;
  }

  // Called with mutex_ held.
  void ReleaseLocked(BlockHandle handle, Block& block) {
    // Fails only off the thread that owns the mutex, which the interface
    // rules out; the mutex is then abandoned when that thread ends, and the
    // next taker gets it.
    static_cast<void>(ReleaseMutex(block.mutex.get()));
    block.locked = false;
    Gate& gate = gates_[block.name];
    if (gate.holder == handle) gate.holder = 0;
    gate_changed_.notify_all();
  }

  // Called with mutex_ held, for a handle that had made its mutex.
  void LeaveGate(const std::wstring& name) {
    const auto found = gates_.find(name);
    if (found != gates_.end() && --found->second.users <= 0) gates_.erase(found);
  }

  std::mutex mutex_;
  std::condition_variable gate_changed_;
  std::unordered_map<BlockHandle, std::unique_ptr<Block>> blocks_;
  std::unordered_map<std::byte*, View> views_;  // by base address
  std::map<std::wstring, Gate> gates_;
  BlockHandle last_handle_ = 0;
};

}  // namespace

template <>
SharedMemory& SystemDefault<SharedMemory>() {
  return Win32SharedMemory::Instance();
}

// A mapping ends with its last handle or view, even when its holder was
// killed: the system closes a dead process's handles, so nothing stale is
// ever left to remove.
int SweepStaleBlocks() { return 0; }

}  // namespace dovel::platform
