#include "platform/loop/uv_handle.h"

#include <uv.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace dovel::platform {
namespace {

template <class Handle>
void CloseAndFree(Handle* handle) {
  uv_close(reinterpret_cast<uv_handle_t*>(handle),
           [](uv_handle_t* closed) { delete reinterpret_cast<Handle*>(closed); });
}

[[noreturn]] void ThrowUv(int status, const char* what) {
  throw std::system_error(-status, std::generic_category(), what);
}

}  // namespace

void CloseUvHandle::operator()(uv_timer_t* handle) const noexcept { CloseAndFree(handle); }
void CloseUvHandle::operator()(uv_async_t* handle) const noexcept { CloseAndFree(handle); }

UvHandle<uv_timer_t> OpenUvTimer(uv_loop_t& loop) {
  auto handle = std::make_unique<uv_timer_t>();
  if (const int status = uv_timer_init(&loop, handle.get()); status != 0) ThrowUv(status, "uv_timer_init");
  return UvHandle<uv_timer_t>(handle.release());
}

UvHandle<uv_async_t> OpenUvAsync(uv_loop_t& loop, void (*callback)(uv_async_t*)) {
  auto handle = std::make_unique<uv_async_t>();
  if (const int status = uv_async_init(&loop, handle.get(), callback); status != 0) {
    ThrowUv(status, "uv_async_init");
  }
  return UvHandle<uv_async_t>(handle.release());
}

void ExpectUvSuccess(int status, const char* what) noexcept {
  if (status == 0) return;
  std::fprintf(stderr, "dovel: %s failed (%s)\n", what, uv_strerror(status));
  std::abort();
}

UvLoop::UvLoop() {
  auto loop = std::make_unique<uv_loop_t>();
  if (const int status = uv_loop_init(loop.get()); status != 0) ThrowUv(status, "uv_loop_init");
  loop_ = loop.release();
}

UvLoop::~UvLoop() {
  if (loop_ == nullptr) return;
  if (const int status = Close(); status != 0) {
    std::fprintf(
        stderr,
        "dovel: a message loop could not be closed (%s): a handle is still open on it; its memory is left allocated\n",
        uv_strerror(status));
  }
}

UvLoop::UvLoop(UvLoop&& other) noexcept : loop_(std::exchange(other.loop_, nullptr)) {}

UvLoop& UvLoop::operator=(UvLoop&& other) noexcept {
  if (this != &other) {
    // The loop given up here is closed, or left allocated, by the same rules.
    const UvLoop given_up(std::move(*this));
    loop_ = std::exchange(other.loop_, nullptr);
  }
  return *this;
}

int UvLoop::Close() noexcept {
  if (loop_ == nullptr) return 0;
  // One pass runs every close callback due; more passes are for handles
  // whose closing takes another turn. None of them runs a tick or posted
  // work, whose handles are closed; what it returns (whether handles are
  // still active) is what uv_loop_close reports below.
  for (int pass = 0; pass < 3; ++pass) static_cast<void>(uv_run(loop_, UV_RUN_NOWAIT));
  if (const int status = uv_loop_close(loop_); status != 0) return status;
  delete loop_;
  loop_ = nullptr;
  return 0;
}

}  // namespace dovel::platform
