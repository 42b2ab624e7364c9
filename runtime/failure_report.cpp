#include "runtime/failure_report.h"

#include <algorithm>
#include <cstring>

namespace SODetails {
namespace {

// Appends to a fixed message buffer, dropping whatever does not fit before the terminator.
class MessageWriter {
 public:
  explicit MessageWriter(ErrorInfo& info) : info_(info) {}

  void Append(const char16_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) Put(text[i]);
  }
  void Append(const char16_t* text) {
    for (; *text != u'\0'; ++text) Put(*text);
  }
  void Append(const char* ascii) {
    for (; *ascii != '\0'; ++ascii) Put(static_cast<char16_t>(*ascii));
  }
  void AppendHex32(uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) Put(kDigits[(value >> shift) & 0xFu]);
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
  if (!IsFailureCode(code)) return;
  if (interfaceNameLength == 0 || entryName == nullptr) return;

  ErrorInfo info;  // zero-filled message: the units behind the terminator stay zero
  info.code = code;
  info.line = line;
  info.functionName = functionName;
  info.sourceFile = sourceFile;
  MessageWriter writer(info);
  writer.Append(interfaceName, interfaceNameLength);
  writer.Append("::");
  writer.Append(entryName);
  writer.Append("() failed, code: 0x");
  writer.AppendHex32(code);

  records.Store(info);
}

void ThrowRecordedServiceError(ServiceObject* object, SLResult code) {
  if (!IsFailureCode(code)) return;
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
