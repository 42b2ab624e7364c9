// Shared machinery of the generated interface glue (FileSystemServiceCalls, FileSystemCalls,
// FileSystemSearchResult, StreamServiceCalls).
//
// Each glue header defines SOImpl::Cpp<Interface>Base<Impl, Traits>: a standard-layout class
// whose only data member is the interface's table (so the object's address is the table's),
// with one nested class <Entry>Impl per entry whose static staticF is the pointer stored in the
// table. staticF forwards to Impl's member of the same name and hands the result to
// ReportFailure with the entry's generated name, its source header and the line on which the
// entry is declared in that header, which is why the glue headers keep their entries on fixed
// lines. Constructing the base is the interface stage of building an object.
#pragma once

#include <cstring>

#include "runtime/failure_report.h"
#include "runtime/fnv1a.h"
#include "runtime/service_object.h"
#include "slservices/slservices.h"

namespace SODetails {

// Interface stage, first half: identity, size, name, no base entries yet.
inline void BeginTable(ServiceFunctionTable& header, uint32_t interfaceId, uint32_t tableSize,
                       const char* interfaceName) {
  header = ServiceFunctionTable{};
  header.interfaceId = interfaceId;
  header.tableSize = tableSize;
  header.interfaceName = interfaceName;
}

// Interface stage, second half: "EOFT" after the last entry and a stamp of 0.
template <class Table>
void EndTable(Table& table) {
  std::memcpy(table.endMarker, SL_END_OF_TABLE_MARKER, sizeof(table.endMarker));
  table.tableStamp = 0;
}

}  // namespace SODetails

// The members every glue base starts with.
#define SL_GLUE_PROLOGUE(InterfaceType, Stamp)                                         \
  using Interface = InterfaceType;                                                     \
  static constexpr const char kInterfaceName[] = #InterfaceType;                       \
  static constexpr const char16_t kInterfaceName16[] = u"" #InterfaceType;             \
  static constexpr uint32_t kInterfaceId = ::SODetails::InterfaceIdOf(kInterfaceName); \
  static constexpr uint32_t kTableSize = sizeof(InterfaceType) - 64;                   \
  static constexpr uint32_t kTableStamp = Stamp;

// One entry: forwards to Impl::Name and reports the result on the way out. Exceptions pass
// through unchanged and report nothing.
#define SL_GLUE_ENTRY(Name, Params, Args)                                                       \
  struct Name##Impl {                                                                           \
    static SLResult staticF Params {                                                            \
      auto* object_ = Traits::template ObjectOf<Impl>(self);                                    \
      const SLResult result_ = object_->Name Args;                                              \
      ::SODetails::ReportFailure(object_->core.errors(), result_, kInterfaceName16,             \
                                 sizeof(kInterfaceName16) / sizeof(char16_t) - 1, u"" #Name,    \
                                 SL_GLUE_FUNCTION_PREFIX #Name "Impl::staticF", SL_GLUE_SOURCE, \
                                 __LINE__);                                                     \
      return result_;                                                                           \
    }                                                                                           \
  };

#define SL_GLUE_SET(Name) table_.Name = &Name##Impl::staticF;
