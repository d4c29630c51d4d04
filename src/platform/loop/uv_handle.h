#pragma once

#include <memory>

struct uv_loop_s;
struct uv_timer_s;
struct uv_async_s;

namespace dovel::platform {

// Closes a libuv handle, which also stops it. libuv frees the handle in the
// close callback, on the next pass of its loop: a loop being destroyed gets
// that pass from UvLoop.
struct CloseUvHandle {
  void operator()(uv_timer_s* handle) const noexcept;
  void operator()(uv_async_s* handle) const noexcept;
};

// The one owner of an open libuv handle; no other code closes it.
template <class Handle>
using UvHandle = std::unique_ptr<Handle, CloseUvHandle>;

// New open handles on `loop`; throw std::system_error when libuv refuses.
[[nodiscard]] UvHandle<uv_timer_s> OpenUvTimer(uv_loop_s& loop);
[[nodiscard]] UvHandle<uv_async_s> OpenUvAsync(uv_loop_s& loop, void (*callback)(uv_async_s*));

// For a libuv call that fails only when misused in a way this code rules
// out, such as a closing handle or no callback: a failure is a fault here,
// and is named on stderr before the process stops, as libuv itself does on
// faults it cannot recover from.
void ExpectUvSuccess(int status, const char* what) noexcept;

// The one owner of a libuv loop. The loop must outlive every handle open on
// it, so the handles' owners go first; closing the loop then runs their close
// callbacks.
class UvLoop {
 public:
  // Throws std::system_error when the loop cannot be made.
  UvLoop();
  // A loop that cannot be closed because a handle is still open on it is
  // named on stderr and left allocated: the handle still points into it.
  ~UvLoop();
  UvLoop(UvLoop&& other) noexcept;
  UvLoop& operator=(UvLoop&& other) noexcept;
  UvLoop(const UvLoop&) = delete;
  UvLoop& operator=(const UvLoop&) = delete;

  // Null once closed.
  uv_loop_s* get() const { return loop_; }

  // Runs the close callbacks of the handles closed so far and closes the
  // loop: 0 when done, UV_EBUSY while a handle is still open on it, which
  // leaves the loop as it was, to be closed again once the handle is.
  [[nodiscard]] int Close() noexcept;

 private:
  uv_loop_s* loop_ = nullptr;
};

}  // namespace dovel::platform
