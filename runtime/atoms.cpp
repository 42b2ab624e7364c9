#include "runtime/atoms.h"

#include <mutex>

#include "platform/library.h"
#include "slservices/sl_module.h"

namespace SODetails {
namespace {

SLGetAtomFromStringFn BindAtomLibrary() {
  void* library = sl::platform::LoadLibraryByName(sl::platform::AtomLibraryName());
  return reinterpret_cast<SLGetAtomFromStringFn>(
      sl::platform::FindLibrarySymbol(library, SL_ATOM_FUNCTION));
}

}  // namespace

bool GetAtomFromString(const char* name, uint32_t* atom) {
  static std::once_flag once;
  static SLGetAtomFromStringFn function = nullptr;
  std::call_once(once, [] { function = BindAtomLibrary(); });
  if (function == nullptr) return false;
  function(name, atom);
  return true;
}

}  // namespace SODetails
