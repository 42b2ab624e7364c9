// The host's atom library, bound on first use: nothing is loaded until the first name is
// asked for. When the library or its SLGetAtomFromString cannot be found, names stay
// unresolved (the atom is left untouched, normally 0xFFFFFFFF).
//
// Thread safety: [thread-safe]; the binding happens once.
#pragma once

#include <cstdint>

namespace SODetails {

// Calls the atom library's SLGetAtomFromString(name, atom) when it is available. Returns
// whether the library was there; the library's own result is not looked at.
bool GetAtomFromString(const char* name, uint32_t* atom);

}  // namespace SODetails
