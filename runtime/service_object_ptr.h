// BasicServiceObjectPtr: the module's counted pointer to a service object, of its own or a
// host's. Copying calls the object's AddRef, destroying or overwriting calls its Release, moving
// hands the reference on; each call is skipped when the pointer or the table's entry is null.
// Made with Adopt from a newly built object, it holds that object's first reference (the count
// stays 1); Share adds a reference to a borrowed object.
//
//   BasicServiceObjectPtr<SLFileSystem> fs = BasicServiceObjectPtr<SLFileSystem>::Share(given);
//
// One implementation with the SDK's Ref: slservices/core/counted_ptr.hpp.
#pragma once

#include "slservices/core/counted_ptr.hpp"

namespace SODetails {

template <class Interface>
using BasicServiceObjectPtr = sl::core::CountedPtr<Interface>;

}  // namespace SODetails
