// The failure message that every object records for a failed entry and that hosts show:
//
//   "<interface>::<entry>() failed, code: 0x0000000b"
//
// written once, here, piece by piece through a caller's `append` (called with ASCII pieces and
// with the caller's own names), so that the module fills its fixed UTF-16 record and the SDK a
// std::string from the same spelling, and nothing here allocates.
#ifndef SLSERVICES_CORE_FAILURE_TEXT_HPP_
#define SLSERVICES_CORE_FAILURE_TEXT_HPP_

#include "slservices/sl_result.h"

namespace sl::core {

// A code as 8 lower-case hexadecimal digits, zero-padded, and a terminator.
struct HexDigits {
  explicit HexDigits(SLResult code) {
    static constexpr char kDigits[] = "0123456789abcdef";
    int digit = 0;
    for (int shift = 28; shift >= 0; shift -= 4) text[digit++] = kDigits[(code >> shift) & 0xFu];
    text[digit] = '\0';
  }
  char text[9];
};

// How every failure message ends: the words, then the code in hexadecimal as HexDigits spells it.
template <class Append>
void AppendFailedCode(Append&& append, SLResult code) {
  append(" failed, code: 0x");
  append(static_cast<const char*>(HexDigits(code).text));
}

// The whole message of a failed entry.
template <class Append, class Interface, class Entry>
void AppendEntryFailure(Append&& append, const Interface& interfaceName, const Entry& entryName,
                        SLResult code) {
  append(interfaceName);
  append("::");
  append(entryName);
  append("()");
  AppendFailedCode(append, code);
}

}  // namespace sl::core

#endif  // SLSERVICES_CORE_FAILURE_TEXT_HPP_
