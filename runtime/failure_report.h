// Failure records: every generated entry hands its result to ReportFailure on its way out;
// GetErrorInfo reads the calling thread's record back; ThrowOnServiceError turns another
// object's record into a ServiceObjectException after a failing call into it. Which codes are
// failures is the result code list's one rule, SL_FAILED (slservices/sl_result.h); the message
// is the neutral core's one failure text (slservices/core/failure_text.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/object_core.h"
#include "slservices/sl_exception.hpp"
#include "slservices/sl_object.h"

namespace SODetails {

// ReportFailure's work for a failure code (out of line: formatting and the locked store).
void RecordFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                   size_t interfaceNameLength, const char16_t* entryName, const char* functionName,
                   const char* sourceFile, uint32_t line);

// Records a failing code for the calling thread, its message cut to 511 units; a code that is
// not a failure records nothing. Allocates only for a thread's first failure on an object. The
// test of the code is inline, so a successful entry pays one comparison and no call.
inline void ReportFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                          size_t interfaceNameLength, const char16_t* entryName,
                          const char* functionName, const char* sourceFile, uint32_t line) {
  if (SL_FAILED(code)) {
    RecordFailure(records, code, interfaceName, interfaceNameLength, entryName, functionName,
                  sourceFile, line);
  }
}

// ThrowOnServiceError's work after a failing code: asks `object` for its record and raises it.
void ThrowRecordedServiceError(ServiceObject* object);

// After a call into `object`: for a failing code, throws ServiceObjectException with the
// object's record for this thread; returns when the object has no GetErrorInfo or yields no
// record. The test of the code is inline, so a successful call costs no further call.
inline void ThrowOnServiceError(ServiceObject* object, SLResult code) {
  if (SL_FAILED(code)) ThrowRecordedServiceError(object);
}

}  // namespace SODetails
