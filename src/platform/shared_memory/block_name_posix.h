#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace dovel::platform::posix_block {

inline constexpr std::size_t kMaxNameLength = 200;

// Where shm_open keeps its objects; the sweep lists it.
inline constexpr const char* kShmDirectory = "/dev/shm";

// Success for a usable block name, otherwise the code to report. Runs before
// any system call, so a refused name never reaches a path.
[[nodiscard]] std::error_code CheckName(std::string_view name);

// "dovel.<uid>.": every block of one user carries it, so users do not share a
// namespace and the sweep finds only its own user's blocks.
std::string UserPrefix(unsigned uid);

// The shm_open name of a checked block name: "/" + UserPrefix + name.
std::string ObjectName(std::string_view name, unsigned uid);

}  // namespace dovel::platform::posix_block
