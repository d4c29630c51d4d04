// The owners of the libuv loop and its handles: a handle closes with its
// owner, and a loop refuses to close while a handle is still open on it,
// staying usable until it is.
#include <gtest/gtest.h>
#include <uv.h>

#include <utility>

#include "platform/loop/uv_handle.h"

namespace dovel::platform {
namespace {

TEST(UvHandleTest, ClosingTheOwnerStopsTheHandleAndTheLoopThenCloses) {
  UvLoop loop;
  int fired = 0;
  UvHandle<uv_timer_t> timer = OpenUvTimer(*loop.get());
  timer->data = &fired;
  const uv_timer_cb count = [](uv_timer_t* handle) { ++*static_cast<int*>(handle->data); };
  ASSERT_EQ(uv_timer_start(timer.get(), count, 0, 0), 0);
  timer.reset();
  // The timer was due at once; closed, it must not fire.
  static_cast<void>(uv_run(loop.get(), UV_RUN_NOWAIT));
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(loop.Close(), 0);
  EXPECT_EQ(loop.get(), nullptr);
}

TEST(UvHandleTest, LoopWithAHandleStillOpenRefusesToCloseUntilTheHandleIs) {
  UvLoop loop;
  UvHandle<uv_async_t> signal = OpenUvAsync(*loop.get(), [](uv_async_t*) {});
  EXPECT_EQ(loop.Close(), UV_EBUSY);
  ASSERT_NE(loop.get(), nullptr);
  // Moving either owner moves the one resource, which still closes once.
  UvLoop moved(std::move(loop));
  UvHandle<uv_async_t> moved_signal = std::move(signal);
  EXPECT_EQ(loop.get(), nullptr);
  moved_signal.reset();
  EXPECT_EQ(moved.Close(), 0);
}

}  // namespace
}  // namespace dovel::platform
