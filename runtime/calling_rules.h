// Calling another object's interface entry by the rules every caller keeps: entry i (from 0)
// is called only when the table size exceeds 8 * i (tested first) and its pointer is non-null.
// A call that is made has its result passed through ThrowOnServiceError.
//
//   SLResult result = SL_OK;
//   if (SL_CALL_ENTRY(fs, SLFileSystem, ReadFile, &result, file, buffer, size, &done)) ...
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/failure_report.h"
#include "slservices/sl_object.h"

namespace SODetails {

// Slot number of an interface entry, counted from 0 after the five base entries.
#define SL_SLOT_OF(Interface, Entry) \
  ((offsetof(Interface, Entry) - sizeof(ServiceFunctionTable)) / sizeof(void*))

template <size_t Slot, class Interface, class Fn, class... Args>
bool CallEntry(Interface* object, Fn Interface::*entry, SLResult* result, Args&&... args) {
  if (object->header.tableSize <= 8u * Slot) return false;
  Fn function = object->*entry;
  if (function == nullptr) return false;
  *result = function(object, static_cast<Args&&>(args)...);
  ThrowOnServiceError(reinterpret_cast<ServiceObject*>(object), *result);
  return true;
}

#define SL_CALL_ENTRY(object, Interface, Entry, result, ...)                                  \
  ::SODetails::CallEntry<SL_SLOT_OF(Interface, Entry)>((object), &Interface::Entry, (result), \
                                                       __VA_ARGS__)

}  // namespace SODetails
