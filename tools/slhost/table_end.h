// What follows a table's interface entries: the "EOFT" marker and the stamp.
#pragma once

#include <cstdint>
#include <cstring>

#include "slservices/sl_object.h"

namespace slhost {

struct TableEnd {
  uint32_t offset;  // of the marker from the table's start
  char marker[5];   // "EOFT" and a terminator
  uint32_t stamp;
};

inline TableEnd ReadTableEnd(const ServiceObject* object) {
  TableEnd end{};
  end.offset = static_cast<uint32_t>(sizeof(ServiceFunctionTable)) + object->header.tableSize;
  const auto* bytes = reinterpret_cast<const unsigned char*>(object) + end.offset;
  std::memcpy(end.marker, bytes, 4);
  std::memcpy(&end.stamp, bytes + 4, sizeof(end.stamp));
  return end;
}

}  // namespace slhost
