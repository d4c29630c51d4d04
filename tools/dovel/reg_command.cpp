#include "tools/dovel/reg_command.h"

#include <algorithm>
#include <vector>

#include "platform/automation/text.h"

namespace dovel::tools {
namespace {

bool ParseKeyPath(std::string_view text, ParsedRegCommand& parsed) {
  KeyPath& path = parsed.command.path;
  const auto slash = text.find('\\');
  const std::string_view root_name = text.substr(0, slash);
  if (!platform::RegistryRootFromName(root_name, path.root)) {
    parsed.error = ParsedRegCommand::Error::kBadRoot;
    parsed.bad_root = std::string(root_name);
    return false;
  }
  const std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  path.sub_key = ToStoreText(rest);
  path.shown = std::string(platform::RegistryRootName(path.root));
  if (!rest.empty()) path.shown += "\\" + std::string(rest);
  return true;
}

}  // namespace

std::string ToStoreText(std::string_view utf8) {
  const std::u16string wide = platform::automation::FromUtf8(utf8);
  std::string bytes;
  bytes.reserve(wide.size());
  for (const char16_t unit : wide) bytes += unit <= 0xFF ? static_cast<char>(unit) : '?';
  return bytes;
}

ParsedRegCommand ParseRegCommand(int argc, const char* const* argv) {
  ParsedRegCommand parsed;
  if (argc < 2) return parsed;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  constexpr std::string_view kJson = "--json";
  const auto operation = std::find_if(args.begin(), args.end(), [&](std::string_view arg) { return arg != kJson; });
  if (operation == args.end()) return parsed;
  const std::string_view command = *operation;
  const bool reading = command == "get" || command == "list";
  if (reading) {
    const auto flags = std::erase(args, kJson);
    parsed.command.json = flags > 0;
  }
  using Kind = RegCommand::Kind;
  // The command and its number of arguments first: a bad key path in a line
  // of the wrong length is a usage error.
  // A --json before set or delete is left in place, and stands first.
  if (args[0] != command) return parsed;
  Kind kind = Kind::kGet;
  if (command == "get" && args.size() == 3) {
    kind = Kind::kGet;
  } else if (command == "set" && args.size() == 4) {
    kind = Kind::kSet;
  } else if (command == "list" && args.size() == 2) {
    kind = Kind::kList;
  } else if (command == "delete" && args.size() == 3) {
    kind = Kind::kDelete;
  } else {
    return parsed;
  }
  if (!ParseKeyPath(args[1], parsed)) return parsed;
  parsed.error = ParsedRegCommand::Error::kNone;
  parsed.command.kind = kind;
  if (kind != Kind::kList) parsed.command.name = ToStoreText(args[2]);
  if (kind == Kind::kSet) parsed.command.value = ToStoreText(args[3]);
  return parsed;
}

}  // namespace dovel::tools
