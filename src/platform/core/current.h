#pragma once

#include <atomic>

namespace dovel::platform {

// The operating system's implementation of a platform interface, defined once
// per OS in that concern's implementation file.
template <class Interface>
Interface& SystemDefault();

// Which implementation of a platform interface the process uses right now:
// the system's, unless a test has installed a double with ScopedOverride.
// The override is process-wide so that work on any thread sees the same one.
template <class Interface>
class Current {
 public:
  static Interface& Get() {
    Interface* over = override_.load(std::memory_order_acquire);
    return over != nullptr ? *over : SystemDefault<Interface>();
  }

 private:
  template <class>
  friend class ScopedOverride;
  static inline std::atomic<Interface*> override_{nullptr};
};

// Installs `replacement` for the lifetime of this object and restores the
// previous choice afterwards. Overrides nest.
template <class Interface>
class ScopedOverride {
 public:
  explicit ScopedOverride(Interface& replacement) : previous_(Current<Interface>::override_.exchange(&replacement)) {}
  ~ScopedOverride() { Current<Interface>::override_.store(previous_); }
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

 private:
  Interface* previous_;
};

}  // namespace dovel::platform
