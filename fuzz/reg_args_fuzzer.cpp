// `dovel reg`'s command line: key paths, names and values as typed, in
// UTF-8 or not, with --json anywhere.
//
// Input: the arguments after the program's name, separated by NUL bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_args.h"
#include "fuzz_check.h"
#include "platform/registry/registry.h"
#include "tools/dovel/reg_command.h"

namespace {

using dovel::tools::ParsedRegCommand;
using dovel::tools::RegCommand;

// Store text has one byte per character: never longer than the UTF-8 it
// came from.
void CheckStoreText(const std::string& utf8, const std::string& stored) {
  DOVEL_FUZZ_CHECK(stored.size() <= utf8.size());
  // ASCII passes through unchanged.
  bool ascii = true;
  for (const char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) DOVEL_FUZZ_CHECK(stored == utf8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const dovel::fuzz::FuzzArgs args("reg", data, size);
  const ParsedRegCommand parsed = dovel::tools::ParseRegCommand(args.argc(), args.argv());
  if (parsed.error == ParsedRegCommand::Error::kUsage) return 0;

  // The line as the operation sees it: a reading one drops every --json,
  // the others keep every argument.
  std::vector<std::string> words;
  for (int i = 1; i < args.argc(); ++i) words.push_back(args[static_cast<std::size_t>(i)]);
  const auto operation =
      std::find_if(words.begin(), words.end(), [](const std::string& word) { return word != "--json"; });
  DOVEL_FUZZ_CHECK(operation != words.end());
  const bool reading = *operation == "get" || *operation == "list";
  const auto json_count = std::count(words.begin(), words.end(), "--json");
  if (reading) std::erase(words, "--json");
  DOVEL_FUZZ_CHECK(!words.empty());
  const std::string& command = words[0];
  DOVEL_FUZZ_CHECK(parsed.command.json == (reading && json_count > 0));

  // A key path is judged only on a line of the right shape.
  DOVEL_FUZZ_CHECK((command == "get" && words.size() == 3) || (command == "set" && words.size() == 4) ||
                   (command == "list" && words.size() == 2) || (command == "delete" && words.size() == 3));
  const std::string& key_path = words[1];
  const std::string root_name = key_path.substr(0, key_path.find('\\'));
  dovel::platform::RegistryKey root = 0;
  const bool known_root = dovel::platform::RegistryRootFromName(root_name, root);
  if (parsed.error == ParsedRegCommand::Error::kBadRoot) {
    DOVEL_FUZZ_CHECK(!known_root && parsed.bad_root == root_name);
    return 0;
  }

  const RegCommand& parsed_command = parsed.command;
  using Kind = RegCommand::Kind;
  DOVEL_FUZZ_CHECK(parsed_command.kind == (command == "get"    ? Kind::kGet
                                           : command == "set"  ? Kind::kSet
                                           : command == "list" ? Kind::kList
                                                               : Kind::kDelete));
  DOVEL_FUZZ_CHECK(known_root && parsed_command.path.root == root);
  const std::string_view long_name = dovel::platform::RegistryRootName(root);
  DOVEL_FUZZ_CHECK(!long_name.empty() && parsed_command.path.shown.starts_with(long_name));
  const std::string rest = key_path.size() > root_name.size() ? key_path.substr(root_name.size() + 1) : "";
  DOVEL_FUZZ_CHECK(parsed_command.path.shown == std::string(long_name) + (rest.empty() ? "" : "\\" + rest));
  CheckStoreText(rest, parsed_command.path.sub_key);
  if (parsed_command.kind != Kind::kList) CheckStoreText(words[2], parsed_command.name);
  if (parsed_command.kind == Kind::kSet) CheckStoreText(words[3], parsed_command.value);
  return 0;
}
