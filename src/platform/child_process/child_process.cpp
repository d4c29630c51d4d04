#include "platform/child_process/child_process.h"

namespace dovel::platform {

RunResult Run(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  child.CloseInput();
  RunResult result;
  result.output = child.ReadAll();
  result.status = child.Wait();
  return result;
}

}  // namespace dovel::platform
