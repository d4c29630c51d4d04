#pragma once

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "errorlog/error_log_object.h"
#include "platform/automation/conversions.h"
#include "platform/automation/text.h"
#include "support/scoped_environment.h"

namespace dovel::errorlog {

namespace fs = std::filesystem;
namespace automation = platform::automation;
using automation::Variant;

// Points DOVEL_LOG_DIR at a directory that does not exist yet, inside a
// private temporary directory removed afterwards.
class ErrorLog : public ::testing::Test {
 protected:
  // What the system puts on a new object at start-up.
  static void StartUp(automation::Dispatch& object) {
    ASSERT_EQ(object.PutProperty(u"AppName", u"Dovel"), std::error_code());
    ASSERT_EQ(object.PutProperty(u"AppVersion", u"1.0.31"), std::error_code());
    ASSERT_EQ(object.PutProperty(u"WarningLevel", std::int16_t{4}), std::error_code());
    ASSERT_EQ(object.PutProperty(u"AppErrorFile", u"Comm.err"), std::error_code());
    ASSERT_EQ(object.PutProperty(u"FileSection", u"COMM"), std::error_code());
  }

  // Add's arguments as the standard report passes them.
  static std::array<Variant, 14> AddArguments(std::int32_t number, std::u16string module, std::u16string procedure,
                                              Variant level, double day = 36526, double time = 0.75) {
    std::array<Variant, 14> args;
    args.fill(automation::Missing{});
    args[0] = number;
    args[4] = automation::Date{day};
    args[5] = automation::Date{time};
    args[7] = std::move(module);
    args[8] = std::move(procedure);
    args[13] = std::move(level);
    return args;
  }

  static std::error_code Add(automation::Dispatch& object, std::array<Variant, 14> args) {
    return object.Call(u"Add", args, nullptr);
  }

  static std::error_code Report(automation::Dispatch& object, std::array<Variant, 14> args,
                                std::u16string remark = u"") {
    if (const std::error_code error = object.Call(u"Add", args, nullptr)) return error;
    if (const std::error_code error = object.PutProperty(u"AddlText", remark)) return error;
    return object.Call(u"LogError", {}, nullptr);
  }

  fs::path LogFile() const { return log_dir_ / "Comm.err"; }

  // The log's lines; a missing file has none. Fails if the last line is unterminated.
  std::vector<std::string> Lines() const {
    std::ifstream in(LogFile(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    if (!text.empty()) {
      EXPECT_EQ(text.back(), '\n') << "unterminated last line";
    }
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) lines.push_back(line);
    return lines;
  }

  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    return fields;
  }

  dovel::testing::ScopedTempDir temp_;
  fs::path root_ = temp_.path();
  fs::path log_dir_ = root_ / "logs" / "dovel";
  dovel::testing::ScopedEnv log_env_{kLogDirectoryVariable, log_dir_.string()};
  ErrorLogObject object_;
};

}  // namespace dovel::errorlog
