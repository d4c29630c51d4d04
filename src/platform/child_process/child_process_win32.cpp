#include "platform/child_process/child_process.h"

#include <windows.h>

#include <stdexcept>
#include <utility>

#include "platform/core/win32_text.h"

namespace dovel::platform {
namespace {

using win32::Utf8FromWide;
using win32::WideFromUtf8;

// One argument as the C runtime's command-line parser will split it back:
// quoted when empty or holding blanks or quotes; a quote is escaped with a
// backslash, and backslashes are doubled only where they precede a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// What the C runtime's text mode does when reading: CR LF becomes LF.
std::string WithoutCarriageReturns(std::string text) {
  std::string::size_type at = 0;
  while ((at = text.find("\r\n", at)) != std::string::npos) text.erase(at, 1);
  return text;
}

void CloseIfOpen(void*& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

// Reads what is there, or waits for more; false at end of output.
bool ReadSome(void* pipe, std::string& into) {
  if (pipe == nullptr) return false;
  char buffer[4096];
  DWORD got = 0;
  if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
  into.append(buffer, got);
  return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::invalid_argument("no program");
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE child_in = nullptr;
  HANDLE child_out = nullptr;
  HANDLE in_writer = nullptr;
  HANDLE out_reader = nullptr;
  if (!CreatePipe(&child_in, &in_writer, &inheritable, 0)) throw std::runtime_error("pipe");
  if (!CreatePipe(&out_reader, &child_out, &inheritable, 0)) {
    CloseHandle(child_in);
    CloseHandle(in_writer);
    throw std::runtime_error("pipe");
  }
  // Our ends stay here: a child holding the write end of its own input would
  // never see that input end.
  SetHandleInformation(in_writer, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_reader, HANDLE_FLAG_INHERIT, 0);
  to_child_ = in_writer;
  from_child_ = out_reader;

  HANDLE child_err = nullptr;
  const HANDLE own_err = GetStdHandle(STD_ERROR_HANDLE);
  if (own_err != nullptr && own_err != INVALID_HANDLE_VALUE) {
    DuplicateHandle(GetCurrentProcess(), own_err, GetCurrentProcess(), &child_err, 0, TRUE, DUPLICATE_SAME_ACCESS);
  }

  std::wstring line;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (i > 0) line += L' ';
    AppendQuoted(line, WideFromUtf8(argv[i]));
  }
  const std::wstring program = WideFromUtf8(argv[0]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_in;
  startup.hStdOutput = child_out;
  startup.hStdError = child_err;
  PROCESS_INFORMATION info{};
  started_ = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &info) != 0;
  CloseHandle(child_in);
  CloseHandle(child_out);
  if (child_err != nullptr) CloseHandle(child_err);
  if (started_) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  } else {
    // As a child that could not run its program: no output, status 127.
    waited_ = true;
    status_ = 127;
  }
}

ChildProcess::~ChildProcess() {
  if (!waited_) {
    CloseInput();
    // A child that does not end on its own must not outlive its owner.
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, 1);
      terminated_ = true;
    }
    Wait();
  }
  CloseIfOpen(process_);
  CloseIfOpen(to_child_);
  CloseIfOpen(from_child_);
}

std::string ChildProcess::ReadLine() {
  while (true) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (!ReadSome(from_child_, pending_)) return WithoutCarriageReturns(std::exchange(pending_, {}));
  }
}

std::string ChildProcess::ReadAll() {
  std::string all = std::exchange(pending_, {});
  while (ReadSome(from_child_, all)) {
  }
  return WithoutCarriageReturns(std::move(all));
}

void ChildProcess::CloseInput() { CloseIfOpen(to_child_); }

int ChildProcess::Wait() {
  if (waited_) return status_;
  CloseInput();
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  waited_ = true;
  status_ = !terminated_ && GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
  return status_;
}

std::string CurrentExecutablePath() { return Utf8FromWide(win32::ModuleFileName(nullptr)); }

}  // namespace dovel::platform
