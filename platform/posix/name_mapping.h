// Names that a Windows program cannot hold, carried through the private-use characters
// U+F000-U+F0FF, the way other POSIX layers under Win32 programs carry them.
//
// A Linux name is any run of bytes but '/' and NUL; a Windows name is UTF-16 without '\' '<' '>'
// '"' '|' '?' '*' or control characters, and does not end in a dot or a space. Going to UTF-16,
// every byte that a Windows name could not carry becomes U+F000 + that byte:
//   - '\' '<' '>' '"' '|' '?' '*' and the control characters 0x01-0x1F, anywhere in a name;
//   - a dot or a space that ends a name ("." and ".." themselves excepted): "a." is u"a\uF02E";
//   - each byte of a sequence that is not valid UTF-8 (0xFF is U+F0FF);
//   - each of the three bytes of a character that is itself in U+F000-U+F0FF, so that such a name
//     too comes back to the same bytes.
// Going back, U+F000 + b is the byte b wherever it stands, whether or not b needed mapping
// (u"col\uF03Aon" and u"col:on" are the same name). ':' is not mapped: it is an ordinary
// character for the emulation. Every name fits: Linux names have at most 255 bytes, and no byte
// takes more than one UTF-16 unit.
#pragma once

#include <cstddef>

#include "slservices/core/name_bytes.hpp"

namespace sl::platform::posix {

// Whether a UTF-16 unit of a caller's path stands for the byte `c - 0xF000`.
inline bool IsMappedByte(char32_t c) { return sl::core::name_bytes::IsByteCharacter(c); }

// The native form of one character of a caller's path, appended at `out`: the byte for
// U+F000 + b, UTF-8 otherwise. Returns the end of what was written (at most four bytes).
char* AppendNative(char32_t c, char* out);

// A native path ('/' between names) in UTF-16, each name converted as above. Writes at most
// `capacity - 1` units and a NUL; returns the count of units, or -1 when they do not fit.
int NativeToUtf16(const char* native, size_t length, char16_t* out, size_t capacity);

}  // namespace sl::platform::posix
