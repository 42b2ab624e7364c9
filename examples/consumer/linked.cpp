// A host that links the module and the atom library instead of loading them by path.
#include <cstdio>
#include <cstring>

#include "slservices/slservices.h"

int main() {
  const ServiceObjectInfo* classes = nullptr;
  uint32_t count = 0;
  if (ReflectServiceObjectInfo(&classes, &count) != SL_OK || count != 2) return 1;
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(SL_CLASS_STREAM_SERVICE, &atom);
  ServiceObject* object = nullptr;
  if (CreateServiceObject(atom, &object) != SL_OK) return 1;
  const bool streams = std::strcmp(object->header.interfaceName, "SLStreamService") == 0;
  const uint32_t left = object->header.Release(object);
  std::printf("consumer_linked: %u classes, created a stream service: %s, released -> %u\n",
              static_cast<unsigned>(count), streams ? "yes" : "no", static_cast<unsigned>(left));
  return streams && left == 0 ? 0 : 1;
}
