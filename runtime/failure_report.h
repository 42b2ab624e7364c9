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

// Records every code but 0, 1 and 13 for the calling thread, with the message
// "<interface>::<entry>() failed, code: 0x%08x" cut to 511 units. Allocates only for a
// thread's first failure on an object.
void ReportFailure(ErrorRecords& records, SLResult code, const char16_t* interfaceName,
                   size_t interfaceNameLength, const char16_t* entryName,
                   const char* functionName, const char* sourceFile, uint32_t line);

// The GetErrorInfo base entry's work: 3 for a null out pointer, 11 (and a zeroed record) when
// the calling thread has no record, else 0.
SLResult ReadErrorInfo(ErrorRecords& records, SLErrorInfo* info);

// After a call into `object`: returns for 0, 1, 13, for an object without GetErrorInfo and for
// one that yields no record; otherwise throws ServiceObjectException with that record.
void ThrowOnServiceError(ServiceObject* object, SLResult code);

}  // namespace SODetails
