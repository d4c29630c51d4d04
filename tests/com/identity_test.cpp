// The server's identity: the code's table against the published one, and
// the copies that readers other than the compiler see (Dovel.idl, from which
// the type library is made; README's identity table; the version resource)
// against the code's table, so that none of them can drift from it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "com/dispatch_ids.h"
#include "com/published_identity.h"
#include "errorlog/error_log_object.h"
#include "errorlog/win32/error_object_identity.h"

namespace dovel::testing {
namespace {

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

// "{...}" without its braces, as IDL writes a uuid.
std::string Bare(std::string_view guid) { return Upper(std::string(guid.substr(1, guid.size() - 2))); }

std::string VersionText() {
  return std::to_string(com::kTypeLibraryVersion.major) + "." + std::to_string(com::kTypeLibraryVersion.minor);
}

std::string LocaleText() {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(com::kTypeLibraryLocale));
  return text;
}

std::string ReadFile(const char* path) {
  std::ifstream in{std::filesystem::path(path)};
  EXPECT_TRUE(in.good()) << path;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- the code's table against the published one ----

published::Kind Published(com::MemberKind kind) {
  switch (kind) {
    case com::MemberKind::kPropertyPut: return published::Kind::kPropertyPut;
    case com::MemberKind::kPropertyGet: return published::Kind::kPropertyGet;
    case com::MemberKind::kMethod: return published::Kind::kMethod;
  }
  return published::Kind::kMethod;
}

template <std::size_t N, std::size_t M>
void ExpectPublishedMembers(const std::array<com::MemberId, N>& code,
                            const std::array<published::Member, M>& expected) {
  ASSERT_EQ(N, M);
  for (std::size_t i = 0; i < N; ++i) {
    SCOPED_TRACE(Narrow(expected[i].name));
    EXPECT_EQ(Narrow(code[i].name), Narrow(expected[i].name));
    EXPECT_EQ(code[i].dispid, expected[i].dispid);
    EXPECT_EQ(Published(code[i].kind), expected[i].kind);
    EXPECT_EQ(code[i].vtable_slot, expected[i].slot);
  }
}

TEST(PublishedIdentity, MembersHaveTheirPublishedSlotsAndDispatchIdentifiers) {
  ExpectPublishedMembers(com::kMembers, published::kQueueMembers);
  ExpectPublishedMembers(com::kTimerMembers, published::kTimerMembers);
}

TEST(PublishedIdentity, EventsHaveTheirPublishedDispatchIdentifiers) {
  ASSERT_EQ(com::kEvents.size(), published::kEvents.size());
  for (std::size_t i = 0; i < com::kEvents.size(); ++i) {
    EXPECT_EQ(Narrow(com::kEvents[i].name), Narrow(published::kEvents[i].name));
    EXPECT_EQ(static_cast<std::int32_t>(com::kEvents[i].event), published::kEvents[i].dispid);
  }
}

TEST(PublishedIdentity, ServerAndTypeLibraryHaveTheirPublishedNamesAndGuids) {
  EXPECT_EQ(com::kProgId, published::kProgId);
  EXPECT_EQ(com::kTypeLibraryName, published::kLibraryName);
  EXPECT_EQ(com::kTypeLibraryHelp, published::kLibraryHelp);
  EXPECT_EQ(com::kTypeLibraryVersion.major, published::kLibraryMajor);
  EXPECT_EQ(com::kTypeLibraryVersion.minor, published::kLibraryMinor);
  EXPECT_EQ(com::kTypeLibraryLocale, published::kLibraryLocale);
  EXPECT_EQ(com::kTypeLibraryGuid, published::kLibraryGuid);
  EXPECT_EQ(com::kClassGuid, published::kClassGuid);
  EXPECT_EQ(com::kInterfaceGuid, published::kInterfaceGuid);
  EXPECT_EQ(com::kEventInterfaceGuid, published::kEventInterfaceGuid);
  EXPECT_EQ(com::kTimerInterfaceGuid, published::kTimerInterfaceGuid);
  EXPECT_EQ(errorlog::kClassGuid, published::kErrorObjectClassGuid);
}

// ---- Dovel.idl ----

using Attributes = std::map<std::string, std::string>;

// "uuid(...), version(1.0), helpstring("x, y"), hidden" -> name -> value.
Attributes ParseAttributes(const std::string& text) {
  Attributes attributes;
  std::vector<std::string> parts(1);
  int depth = 0;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '(') ++depth;
    if (!quoted && c == ')') --depth;
    if (!quoted && depth == 0 && c == ',') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  static const std::regex kPart(R"re(^\s*(\w+)\s*(?:\(\s*"?([^"]*?)"?\s*\))?\s*$)re");
  for (const std::string& part : parts) {
    std::smatch m;
    if (std::regex_match(part, m, kPart)) {
      attributes[m[1].str()] = m[2].str();
    } else {
      ADD_FAILURE() << "attribute not understood: " << part;
    }
  }
  return attributes;
}

struct IdlMember {
  std::string name;
  std::int64_t id;
  published::Kind kind;
};

struct IdlDeclaration {
  std::string keyword;  // library, interface, dispinterface, coclass
  std::string name;
  Attributes attributes;
  std::string body;
};

std::string WithoutComments(const std::string& text) {
  return std::regex_replace(std::regex_replace(text, std::regex(R"(//[^\n]*)"), ""), std::regex(R"(/\*[\s\S]*?\*/)"),
                            "");
}

// Every declaration with a body; references inside a coclass have none.
std::vector<IdlDeclaration> Declarations(const std::string& idl) {
  static const std::regex kHead(
      R"(\[([^\[\]]*)\]\s*(library|interface|dispinterface|coclass)\s+(\w+)\s*(?::\s*\w+\s*)?\{)");
  std::vector<IdlDeclaration> found;
  for (auto it = std::sregex_iterator(idl.begin(), idl.end(), kHead); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const std::size_t open = static_cast<std::size_t>(m.position(0) + m.length(0)) - 1;
    std::size_t close = open;
    for (int depth = 0; close < idl.size(); ++close) {
      if (idl[close] == '{') ++depth;
      if (idl[close] == '}' && --depth == 0) break;
    }
    found.push_back({m[2].str(), m[3].str(), ParseAttributes(m[1].str()), idl.substr(open + 1, close - open - 1)});
  }
  return found;
}

std::vector<IdlMember> Members(const std::string& body) {
  static const std::regex kMember(R"(\[([^\[\]]*)\]\s*(?:HRESULT|void)\s+(\w+)\s*\()");
  std::vector<IdlMember> members;
  for (auto it = std::sregex_iterator(body.begin(), body.end(), kMember); it != std::sregex_iterator(); ++it) {
    const Attributes attributes = ParseAttributes((*it)[1].str());
    const published::Kind kind = attributes.contains("propget")   ? published::Kind::kPropertyGet
                                 : attributes.contains("propput") ? published::Kind::kPropertyPut
                                                                  : published::Kind::kMethod;
    const auto id = attributes.find("id");
    members.push_back({(*it)[2].str(), id == attributes.end() ? -1 : std::stoll(id->second, nullptr, 0), kind});
  }
  return members;
}

class DovelIdl : public ::testing::Test {
 protected:
  void SetUp() override {
    idl_ = WithoutComments(ReadFile(DOVEL_IDL_PATH));
    for (IdlDeclaration& declaration : Declarations(idl_)) {
      const std::string key = declaration.keyword + " " + declaration.name;
      EXPECT_TRUE(declarations_.emplace(key, std::move(declaration)).second) << "declared twice: " << key;
    }
  }

  const IdlDeclaration& Declared(const std::string& keyword, std::string_view name) {
    const auto found = declarations_.find(keyword + " " + std::string(name));
    if (found == declarations_.end()) {
      ADD_FAILURE() << "Dovel.idl declares no " << keyword << " " << name;
      static const IdlDeclaration kNone;
      return kNone;
    }
    return found->second;
  }

  // The interface's members in vtable order, as the table lists them.
  template <std::size_t N>
  void ExpectMembers(std::string_view interface, const std::array<com::MemberId, N>& table) {
    SCOPED_TRACE(std::string(interface));
    const std::vector<IdlMember> members = Members(Declared("interface", interface).body);
    ASSERT_EQ(members.size(), N);
    for (std::size_t i = 0; i < N; ++i) {
      SCOPED_TRACE(members[i].name);
      EXPECT_EQ(members[i].name, Narrow(table[i].name));
      EXPECT_EQ(members[i].id, table[i].dispid);
      EXPECT_EQ(members[i].kind, Published(table[i].kind));
      // An IDispatch-derived interface starts after IDispatch's seven.
      EXPECT_EQ(static_cast<int>(i) + 7, table[i].vtable_slot);
    }
  }

  std::string idl_;
  std::map<std::string, IdlDeclaration> declarations_;
};

TEST_F(DovelIdl, DeclaresExactlyTheLibraryClassAndInterfacesOfTheTable) {
  std::set<std::string> keys;
  for (const auto& [key, declaration] : declarations_) keys.insert(key);
  EXPECT_EQ(keys, (std::set<std::string>{
                      "library " + std::string(com::kTypeLibraryName),
                      "coclass " + std::string(com::kClassName),
                      "interface " + std::string(com::kInterfaceName),
                      "interface " + std::string(com::kTimerInterfaceName),
                      "dispinterface " + std::string(com::kEventInterfaceName),
                  }));
  // Every GUID the file names is one of the table's, each once.
  static const std::regex kGuid(R"([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})");
  std::multiset<std::string> named;
  for (auto it = std::sregex_iterator(idl_.begin(), idl_.end(), kGuid); it != std::sregex_iterator(); ++it) {
    named.insert(Upper(it->str()));
  }
  EXPECT_EQ(named,
            (std::multiset<std::string>{Bare(com::kTypeLibraryGuid), Bare(com::kClassGuid), Bare(com::kInterfaceGuid),
                                        Bare(com::kEventInterfaceGuid), Bare(com::kTimerInterfaceGuid)}));
}

TEST_F(DovelIdl, LibraryHasTheTablesGuidVersionLocaleAndHelpString) {
  const Attributes& library = Declared("library", com::kTypeLibraryName).attributes;
  EXPECT_EQ(Upper(library.count("uuid") ? library.at("uuid") : ""), Bare(com::kTypeLibraryGuid));
  EXPECT_EQ(library.count("version") ? library.at("version") : "", VersionText());
  ASSERT_TRUE(library.contains("lcid"));
  EXPECT_EQ(std::stoul(library.at("lcid"), nullptr, 0), com::kTypeLibraryLocale);
  EXPECT_EQ(library.count("helpstring") ? library.at("helpstring") : "", com::kTypeLibraryHelp);
}

TEST_F(DovelIdl, ClassAndInterfacesHaveTheTablesGuids) {
  const auto uuid = [](const IdlDeclaration& d) {
    return Upper(d.attributes.count("uuid") ? d.attributes.at("uuid") : "");
  };
  EXPECT_EQ(uuid(Declared("coclass", com::kClassName)), Bare(com::kClassGuid));
  EXPECT_EQ(uuid(Declared("interface", com::kInterfaceName)), Bare(com::kInterfaceGuid));
  EXPECT_EQ(uuid(Declared("dispinterface", com::kEventInterfaceName)), Bare(com::kEventInterfaceGuid));
  EXPECT_EQ(uuid(Declared("interface", com::kTimerInterfaceName)), Bare(com::kTimerInterfaceGuid));
}

TEST_F(DovelIdl, ClassOffersTheQueueInterfaceAndSourcesTheEvents) {
  static const std::regex kReference(R"(\[([^\[\]]*)\]\s*(interface|dispinterface)\s+(\w+)\s*;)");
  const std::string& body = Declared("coclass", com::kClassName).body;
  std::map<std::string, std::string> references;  // "interface _x" -> attributes as written
  for (auto it = std::sregex_iterator(body.begin(), body.end(), kReference); it != std::sregex_iterator(); ++it) {
    references[(*it)[2].str() + " " + (*it)[3].str()] = std::regex_replace((*it)[1].str(), std::regex(R"(\s)"), "");
  }
  EXPECT_EQ(references, (std::map<std::string, std::string>{
                            {"interface " + std::string(com::kInterfaceName), "default"},
                            {"dispinterface " + std::string(com::kEventInterfaceName), "default,source"},
                        }));
}

TEST_F(DovelIdl, MembersComeInTheTablesOrderWithItsDispatchIdentifiers) {
  ExpectMembers(com::kInterfaceName, com::kMembers);
  ExpectMembers(com::kTimerInterfaceName, com::kTimerMembers);
}

TEST_F(DovelIdl, EventsComeInTheTablesOrderWithItsDispatchIdentifiers) {
  const std::vector<IdlMember> events = Members(Declared("dispinterface", com::kEventInterfaceName).body);
  ASSERT_EQ(events.size(), com::kEvents.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].name, Narrow(com::kEvents[i].name));
    EXPECT_EQ(events[i].id, static_cast<std::int64_t>(com::kEvents[i].event));
    EXPECT_EQ(events[i].kind, published::Kind::kMethod);
  }
}

// ---- README.md and the version resource ----

std::string Section(const std::string& text, const std::string& heading) {
  const std::size_t start = text.find("\n## " + heading + "\n");
  if (start == std::string::npos) return {};
  const std::size_t end = text.find("\n## ", start + 1);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string OneLine(const std::string& text) { return std::regex_replace(text, std::regex(R"(\s+)"), " "); }

TEST(ReadmeIdentity, TableGivesEveryNameTheTablesGuid) {
  const std::string section = Section(ReadFile(DOVEL_README_PATH), "On Windows: the COM server");
  ASSERT_FALSE(section.empty());
  // | item naming `Something` first | `{GUID}` |
  static const std::regex kRow(R"(\n\|[^`|\n]*`([^`]+)`[^|\n]*\|\s*`(\{[0-9A-Fa-f-]{36}\})`\s*\|)");
  std::map<std::string, std::string> rows;
  for (auto it = std::sregex_iterator(section.begin(), section.end(), kRow); it != std::sregex_iterator(); ++it) {
    EXPECT_TRUE(rows.emplace((*it)[1].str(), (*it)[2].str()).second) << "two rows for " << (*it)[1].str();
  }
  EXPECT_EQ(rows, (std::map<std::string, std::string>{
                      {std::string(com::kTypeLibraryName), std::string(com::kTypeLibraryGuid)},
                      {std::string(com::kClassName), std::string(com::kClassGuid)},
                      {std::string(com::kInterfaceName), std::string(com::kInterfaceGuid)},
                      {std::string(com::kEventInterfaceName), std::string(com::kEventInterfaceGuid)},
                      {std::string(com::kTimerInterfaceName), std::string(com::kTimerInterfaceGuid)},
                      {std::string(errorlog::kProgId), std::string(errorlog::kClassGuid)},
                  }));
}

TEST(ReadmeIdentity, ServerIsDescribedByTheTablesProgIdVersionLocaleAndHelpString) {
  const std::string section = OneLine(Section(ReadFile(DOVEL_README_PATH), "On Windows: the COM server"));
  using ::testing::HasSubstr;
  EXPECT_THAT(section, HasSubstr("one creatable class, `" + std::string(com::kProgId) + "` (type library `" +
                                 std::string(com::kTypeLibraryName) + "`, \"" + std::string(com::kTypeLibraryHelp) +
                                 "\", version " + VersionText() + ", locale " + LocaleText() + ";"));
}

TEST(VersionResource, DescribesTheServerByTheLibrarysHelpString) {
  const std::string resource = ReadFile(DOVEL_VERSION_RESOURCE_PATH);
  static const std::regex kDescription(R"re(VALUE\s+"FileDescription",\s*"([^"]*)")re");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(resource, m, kDescription));
  EXPECT_EQ(m[1].str(), com::kTypeLibraryHelp);
}

}  // namespace
}  // namespace dovel::testing
