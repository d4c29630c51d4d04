#include "tools/dovel/report.h"

#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

namespace dovel::tools {

int Fail(std::string_view what, std::string_view reason) {
  std::cerr << "dovel: " << what << ": " << reason << std::endl;
  return kExitFailed;
}

int Fail(std::string_view what, dovel_result result) { return Fail(what, dovel_result_text(result)); }

void PrintJson(const nlohmann::json& document, bool one_line) {
  std::cout << document.dump(one_line ? -1 : 2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

}  // namespace dovel::tools
