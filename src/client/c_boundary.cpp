#include "client/c_boundary.h"

#include <algorithm>
#include <cstdint>

#include "platform/automation/text.h"
#include "platform/core/error_codes.h"

namespace dovel::client {

namespace {

thread_local std::int32_t last_system_code = 0;

dovel_result ResultOf(const std::error_code& status) noexcept {
  if (!status) return DOVEL_OK;
  if (status.category() == runtime_error_category()) {
    switch (static_cast<RuntimeError>(status.value())) {
      case RuntimeError::kBadIdentifierLength: return DOVEL_BAD_IDENTIFIER;
      case RuntimeError::kBrokenChain: return DOVEL_BROKEN_CHAIN;
      case RuntimeError::kInvalidPropertyValue:
      case RuntimeError::kOverflow: return DOVEL_TOO_LONG;
      case RuntimeError::kOutOfMemory: return DOVEL_NO_RESOURCES;
      default: return DOVEL_SYSTEM_ERROR;
    }
  }
  if (status.category() == system_error_category()) {
    switch (static_cast<SystemError>(status.value())) {
      case SystemError::kInvalidName: return DOVEL_BAD_IDENTIFIER;
      case SystemError::kFileNotFound: return DOVEL_NOT_FOUND;
      case SystemError::kAlreadyExists: return DOVEL_ALREADY_EXISTS;
      case SystemError::kAccessDenied: return DOVEL_ACCESS_DENIED;
      case SystemError::kWaitTimeout: return DOVEL_TIMEOUT;
      case SystemError::kInvalidParameter: return DOVEL_INVALID_ARGUMENT;
      case SystemError::kTooManyOpenFiles:
      case SystemError::kNotEnoughMemory:
      case SystemError::kNoSystemResources: return DOVEL_NO_RESOURCES;
      default: return DOVEL_SYSTEM_ERROR;
    }
  }
  return DOVEL_SYSTEM_ERROR;
}

}  // namespace

std::recursive_mutex& LibraryMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

dovel_result Finish(const std::error_code& status) noexcept {
  last_system_code = ErrorNumber(status);
  return ResultOf(status);
}

dovel_result Finish(dovel_result result) noexcept {
  last_system_code = 0;
  return result;
}

bool FromCallerUtf8(const char* text, std::u16string& out) {
  const std::string_view utf8 = text == nullptr ? std::string_view() : std::string_view(text);
  std::u16string converted = platform::automation::FromUtf8(utf8);
  // The conversion puts U+FFFD for every bad sequence, so only valid text
  // comes back unchanged.
  if (platform::automation::ToUtf8(converted) != utf8) return false;
  out = std::move(converted);
  return true;
}

std::error_code ParseCallerId(const char* text, store::Identifier& out) {
  if (text == nullptr) return SystemError::kInvalidParameter;
  // Read no further than one character past an identifier: the caller's
  // buffer may be no longer than that.
  std::size_t length = 0;
  while (length <= store::Identifier::kLength && text[length] != '\0') ++length;
  if (length != store::Identifier::kLength) return RuntimeError::kBadIdentifierLength;
  std::u16string units(text, text + length);
  return store::Identifier::Parse(units, out);
}

std::string ToCallerUtf8(std::u16string_view text) {
  std::u16string units(text);
  std::replace(units.begin(), units.end(), u'\0', u'\uFFFD');
  return platform::automation::ToUtf8(units);
}

std::string IdForCaller(std::u16string_view field) {
  if (std::all_of(field.begin(), field.end(), [](char16_t unit) { return unit == u'\0'; })) return {};
  return ToCallerUtf8(field);
}

void CopyId(const store::Identifier& id, char* out) noexcept {
  if (out == nullptr) return;
  const std::u16string_view units = id.view();
  std::transform(units.begin(), units.end(), out, [](char16_t unit) { return static_cast<char>(unit); });
  out[units.size()] = '\0';
}

}  // namespace dovel::client

extern "C" {

const char* dovel_result_text(dovel_result result) {
  switch (result) {
    case DOVEL_OK: return "success";
    case DOVEL_EMPTY: return "nothing there";
    case DOVEL_INVALID_ARGUMENT: return "invalid argument";
    case DOVEL_BAD_IDENTIFIER: return "not an identifier of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    case DOVEL_NOT_FOUND: return "no block bears that identifier";
    case DOVEL_ALREADY_EXISTS: return "the identifier already names a block";
    case DOVEL_ACCESS_DENIED: return "the block belongs to another user";
    case DOVEL_TIMEOUT: return "the list's lock or the block's gate stayed taken";
    case DOVEL_BROKEN_CHAIN: return "the list's chain is broken";
    case DOVEL_TOO_LONG: return "a name or data too long for a message";
    case DOVEL_BAD_TEXT: return "text that is not valid UTF-8";
    case DOVEL_NO_RESOURCES: return "out of memory, descriptors or shared memory";
    case DOVEL_WRONG_KIND: return "the block is not of the kind the call needs";
    case DOVEL_SYSTEM_ERROR: return "a failure of the system";
    case DOVEL_NO_SERVER: return "no session bus or no Dovel server on it";
    case DOVEL_NO_OBJECT: return "no queue object there";
    case DOVEL_NOT_OWNER: return "the queue object belongs to another connection";
    case DOVEL_BUS_ERROR: return "the bus or the server refused the call";
  }
  return "unknown result";
}

int32_t dovel_last_system_code(void) { return dovel::client::last_system_code; }

}  // extern "C"
