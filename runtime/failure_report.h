// Failure records: every generated entry hands its result to ReportFailure on its way out;
// GetErrorInfo reads the calling thread's record back; ThrowOnServiceError turns another
// object's record into a ServiceObjectException after a failing call into it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/object_core.h"
#include "slservices/sl_exception.hpp"
#include "slservices/sl_object.h"

namespace SODetails {

// 0, 1 and 13 are not failures; every other code is (the result code list decides).
constexpr bool IsFailureCode(SLResult code) { return SLIsFailure(code) != 0; }

// ReportFailure's work for a failure code (out of line: formatting and the locked store).
void RecordFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                   size_t interfaceNameLength, const char16_t* entryName, const char* functionName,
                   const char* sourceFile, uint32_t line);

// Records every code but 0, 1 and 13 for the calling thread, with the message
// "<interface>::<entry>() failed, code: 0x%08x" cut to 511 units. Allocates only for a
// thread's first failure on an object. The test of the code is inline, so a successful entry
// pays one comparison and no call.
inline void ReportFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                          size_t interfaceNameLength, const char16_t* entryName,
                          const char* functionName, const char* sourceFile, uint32_t line) {
  if (IsFailureCode(code)) {
    RecordFailure(records, code, interfaceName, interfaceNameLength, entryName, functionName,
                  sourceFile, line);
  }
}

// ThrowOnServiceError's work for a failure code: asks `object` for its record and raises it.
void ThrowRecordedServiceError(ServiceObject* object, SLResult code);

// After a call into `object`: returns for 0, 1, 13, for an object without GetErrorInfo and for
// one that yields no record; otherwise throws ServiceObjectException with that record. The
// test of the code is inline, so a successful call into another object costs no further call.
inline void ThrowOnServiceError(ServiceObject* object, SLResult code) {
  if (IsFailureCode(code)) ThrowRecordedServiceError(object, code);
}

}  // namespace SODetails
