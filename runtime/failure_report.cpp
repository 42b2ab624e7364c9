#include "runtime/failure_report.h"

#include <algorithm>
#include <cstring>

#include "slservices/core/failure_text.hpp"

namespace SODetails {
namespace {

// Appends to a fixed message buffer, dropping whatever does not fit before the terminator.
class MessageWriter {
 public:
  // An interface name: UTF-16 units and their count.
  struct Units {
    const char16_t* text;
    size_t length;
  };

  explicit MessageWriter(ErrorInfo& info) : info_(info) {}

  void operator()(Units units) {
    for (size_t i = 0; i < units.length; ++i) Put(units.text[i]);
  }
  void operator()(const char16_t* text) {
    for (; *text != u'\0'; ++text) Put(*text);
  }
  void operator()(const char* ascii) {
    for (; *ascii != '\0'; ++ascii) Put(static_cast<char16_t>(*ascii));
  }

 private:
  void Put(char16_t unit) {
    if (info_.length < ErrorInfo::kMessageUnits - 1) info_.message[info_.length++] = unit;
  }
  ErrorInfo& info_;
};

}  // namespace

void RecordFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                   size_t interfaceNameLength, const char16_t* entryName, const char* functionName,
                   const char* sourceFile, uint32_t line) {
  if (interfaceNameLength == 0 || entryName == nullptr) return;

  ErrorInfo info;  // zero-filled message: the units behind the terminator stay zero
  info.code = code;
  info.line = line;
  info.functionName = functionName;
  info.sourceFile = sourceFile;
  sl::core::AppendEntryFailure(MessageWriter(info),
                               MessageWriter::Units{interfaceName, interfaceNameLength}, entryName,
                               code);

  records.Store(info);
}

void ThrowRecordedServiceError(ServiceObject* object) {
  if (object == nullptr || object->header.GetErrorInfo == nullptr) return;
  SLErrorInfo foreign{};
  if (object->header.GetErrorInfo(object, &foreign, 0) != SL_OK) return;

  ErrorInfo info;
  info.code = foreign.code;
  info.line = foreign.line;
  info.functionName = foreign.functionName;
  info.sourceFile = foreign.sourceFile;
  if (foreign.message != nullptr) {
    uint32_t length = 0;
    while (length < ErrorInfo::kMessageUnits - 1 && foreign.message[length] != 0) ++length;
    std::copy(foreign.message, foreign.message + length, info.message);
    info.length = length;
  }
  throw ServiceObjectException(info);
}

}  // namespace SODetails
