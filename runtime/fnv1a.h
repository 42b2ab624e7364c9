// Interface ids: the low 32 bits of the 64-bit FNV-1a hash of the interface name.
#pragma once

#include <cstdint>

namespace SODetails {

constexpr uint32_t InterfaceIdOf(const char* name) {
  uint64_t hash = 14695981039346656037ull;
  for (; *name != '\0'; ++name) {
    hash ^= static_cast<unsigned char>(*name);
    hash *= 1099511628211ull;
  }
  return static_cast<uint32_t>(hash);
}

}  // namespace SODetails
