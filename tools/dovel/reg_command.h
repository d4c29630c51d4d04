#pragma once

#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace dovel::tools {

// A key path as `dovel reg` takes it: a root, then the key below it.
struct KeyPath {
  platform::RegistryKey root = 0;
  std::string sub_key;  // in store text
  std::string shown;    // as the user wrote it, with the root's long name
};

// One `dovel reg` command line, checked but not yet run. Names and values
// are in store text.
struct RegCommand {
  enum class Kind { kGet, kSet, kList, kDelete };

  Kind kind = Kind::kGet;
  KeyPath path;
  std::string name;   // get, set, delete
  std::string value;  // set
  bool json = false;  // get, list
};

// What a command line comes to: a command, the usage error, or a key path
// whose first part names no root (`bad_root` holds that part as written).
struct ParsedRegCommand {
  enum class Error { kNone, kUsage, kBadRoot };

  Error error = Error::kUsage;
  std::string bad_root;
  RegCommand command;
};

// argv[0] names the subcommand, argv[1] is the operation. Reading
// operations (get, list) take `--json` anywhere on the line, before the
// operation too; set and delete take every argument literally, so any name
// or value can be written.
ParsedRegCommand ParseRegCommand(int argc, const char* const* argv);

// The store holds 8-bit text that the server reads as Latin-1; terminals
// speak UTF-8. Characters beyond Latin-1 become '?', as the server would
// store them.
std::string ToStoreText(std::string_view utf8);

}  // namespace dovel::tools
