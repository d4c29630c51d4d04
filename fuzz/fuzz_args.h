#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dovel::fuzz {

// A command line from fuzz input: the program's name, then one argument per
// NUL-separated piece of the input, as execve hands them over.
class FuzzArgs {
 public:
  FuzzArgs(const char* program, const std::uint8_t* data, std::size_t size) {
    words_.emplace_back(program);
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        words_.push_back(std::move(word));
        word.clear();
      } else {
        word += static_cast<char>(data[i]);
      }
    }
    if (size > 0) words_.push_back(std::move(word));
    for (const auto& each : words_) pointers_.push_back(each.c_str());
    pointers_.push_back(nullptr);
  }

  int argc() const { return static_cast<int>(words_.size()); }
  const char* const* argv() const { return pointers_.data(); }
  const std::string& operator[](std::size_t index) const { return words_[index]; }

 private:
  std::vector<std::string> words_;
  std::vector<const char*> pointers_;
};

}  // namespace dovel::fuzz
