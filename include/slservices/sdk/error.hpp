// Result codes as C++ errors.
//
//   sl::sdk::Check(fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file), fs);  // throws on failure
//   sl::sdk::Outcome outcome = sl::sdk::Try(fs->RemoveFile(fs, path.c_str()), fs);
//   if (!outcome) std::cerr << outcome.message << " (" << sl::sdk::Explain(outcome.code) << ")\n";
//
// A failure carries the object's own record for the calling thread (GetErrorInfo): the message
// the object wrote (slservices/core/failure_text.hpp), its function and line.
#ifndef SLSERVICES_SDK_ERROR_HPP_
#define SLSERVICES_SDK_ERROR_HPP_

#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "slservices/core/failure_text.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/text.hpp"
#include "slservices/sl_exception.hpp"

namespace sl::sdk {

// A short explanation of a result code, for people.
inline const char* Explain(SLResult code) { return SLResultText(code); }

// "0x0000000b": a code as the module's messages show it.
inline std::string HexCode(SLResult code) { return std::string("0x") + core::HexDigits(code).text; }

namespace error_detail {
// Collects the pieces of a failure text (slservices/core/failure_text.hpp) in a string.
struct AppendTo {
  std::string& text;
  void operator()(const std::string& piece) const { text += piece; }
  void operator()(const char* piece) const { text += piece; }
};
}  // namespace error_detail

// The failure message of a call named `what`, as an entry records it: for what =
// "SLFileSystem::OpenFile", the same text the module's SLFileSystem records for OpenFile.
inline std::string FormatFailure(const std::string& what, SLResult code) {
  std::string text = what + "()";
  core::AppendFailedCode(error_detail::AppendTo{text}, code);
  return text;
}

// A failure record read back from an object, with its strings copied.
struct ErrorRecord {
  SLResult code = SL_OK;
  uint32_t line = 0;
  std::string message;
  std::string function;
  std::string source;
};

// The calling thread's last failure on the object, if it keeps one.
inline std::optional<ErrorRecord> ReadErrorRecord(ServiceObject* object) {
  if (object == nullptr || object->header.GetErrorInfo == nullptr) return std::nullopt;
  SLErrorInfo info{};
  if (object->header.GetErrorInfo(object, &info, 0) != SL_OK) return std::nullopt;
  ErrorRecord record;
  record.code = info.code;
  record.line = info.line;
  record.message = ToUtf8(info.message);
  record.function = info.functionName != nullptr ? info.functionName : "";
  record.source = info.sourceFile != nullptr ? info.sourceFile : "";
  return record;
}

class ServiceError : public std::runtime_error {
 public:
  ServiceError(SLResult code, const std::string& message, std::optional<ErrorRecord> record = {})
      : std::runtime_error(message), code_(code), record_(std::move(record)) {}
  SLResult code() const { return code_; }
  // The object's own record, when it kept one for this failure.
  const std::optional<ErrorRecord>& record() const { return record_; }

 private:
  SLResult code_;
  std::optional<ErrorRecord> record_;
};

// The error for a failing code from `object`. `what` names the call ("SLFileSystem::OpenFile")
// for the message when the object keeps no record of this failure.
inline ServiceError MakeServiceError(SLResult code, ServiceObject* object,
                                     const char* what = nullptr) {
  std::optional<ErrorRecord> record = ReadErrorRecord(object);
  if (record && record->code != code) record.reset();  // an older failure, not this one
  if (record && !record->message.empty()) return ServiceError(code, record->message, record);
  std::string name = what != nullptr ? what : "";
  if (name.empty() && object != nullptr && object->header.interfaceName != nullptr) {
    name = std::string(object->header.interfaceName) + "::<entry>";
  }
  return ServiceError(code, FormatFailure(name.empty() ? "<call>" : name, code), record);
}

// The exception the module raises when one of the host's objects failed inside its call.
inline ServiceError FromModuleException(const ServiceObjectException& exception) {
  const ErrorInfo& info = exception.info();
  ErrorRecord record{info.code, info.line, ToUtf8(std::u16string_view(info.message, info.length)),
                     info.functionName != nullptr ? info.functionName : "",
                     info.sourceFile != nullptr ? info.sourceFile : ""};
  std::string message = record.message;
  return ServiceError(info.code, message, std::move(record));
}

// Returns a code that is not a failure (SL_FAILED); throws ServiceError for any other.
template <class T>
SLResult Check(SLResult code, T* object, const char* what = nullptr) {
  if (SL_FAILED(code)) throw MakeServiceError(code, ObjectOf(object), what);
  return code;
}

// The non-throwing form: the code, and for a failure its record and message.
struct Outcome {
  SLResult code = SL_OK;
  std::string message;
  std::optional<ErrorRecord> record;

  bool ok() const { return !SL_FAILED(code); }
  explicit operator bool() const { return ok(); }
};

template <class T>
Outcome Try(SLResult code, T* object, const char* what = nullptr) {
  if (!SL_FAILED(code)) return Outcome{code, {}, {}};
  ServiceError error = MakeServiceError(code, ObjectOf(object), what);
  return Outcome{code, error.what(), error.record()};
}

// Runs `body`, turning a ServiceError (or the module's ServiceObjectException) into an Outcome.
template <class F, class = std::enable_if_t<std::is_invocable_v<F&>>>
Outcome Try(F&& body) {
  try {
    body();
    return Outcome{};
  } catch (const ServiceError& error) {
    return Outcome{error.code(), error.what(), error.record()};
  } catch (const ServiceObjectException& exception) {
    ServiceError error = FromModuleException(exception);
    return Outcome{error.code(), error.what(), error.record()};
  }
}

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_ERROR_HPP_
