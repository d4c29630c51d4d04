#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "dovel/client.h"

namespace dovel::tools {

// Every subcommand ends with one of these.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// "dovel: WHAT: REASON" on standard error; returns kExitFailed.
int Fail(std::string_view what, std::string_view reason);
// The reason is the client library's text for `result`.
int Fail(std::string_view what, dovel_result result);

// `document` on standard output, indented for a reader, or on one line for
// a stream of documents. Text that is not UTF-8 (a block's name is any
// bytes) is replaced rather than refused.
void PrintJson(const nlohmann::json& document, bool one_line = false);

}  // namespace dovel::tools
