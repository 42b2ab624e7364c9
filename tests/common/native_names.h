// Linux names, ordinary ones and ones a Windows name cannot hold as they are, with the UTF-16
// form in which they are listed: U+F000 + byte for each byte that a Windows name cannot carry.
#pragma once

#include <string>

namespace sltest {

struct NativeName {
  std::string native;
  std::u16string listed;
};

inline const NativeName kNativeNames[] = {
    {"with space.txt", u"with space.txt"},
    {"-dash.txt", u"-dash.txt"},
    {"--", u"--"},
    {"caf\xC3\xA9.txt", u"caf\u00E9.txt"},
    {"\xE6\x97\xA5\xE6\x9C\xAC.txt", u"\u65E5\u672C.txt"},
    {"\xF0\x9F\x98\x80.txt", u"\U0001F600.txt"},
    {"UPPER.txt", u"UPPER.txt"},
    {"upper.txt", u"upper.txt"},
    {"col:on.txt", u"col:on.txt"},
    {"what?.txt", u"what\uF03F.txt"},
    {"st*r.txt", u"st\uF02Ar.txt"},
    {"a<b.txt", u"a\uF03Cb.txt"},
    {"back\\slash.txt", u"back\uF05Cslash.txt"},
    {"trailingdot.", u"trailingdot\uF02E"},
    {"trailing space ", u"trailing space\uF020"},
    {"new\nline", u"new\uF00Aline"},
    {"\xFF.bin", u"\uF0FF.bin"},
    // Beyond the usual suspects: only the last dot is mapped, a cut sequence byte by byte, and
    // a name that holds U+F02A itself keeps its three bytes apart so that it comes back whole.
    {"...", u"..\uF02E"},
    {"x\xC3", u"x\uF0C3"},
    {"\xEF\x80\xAA", u"\uF0EF\uF080\uF0AA"},
};

}  // namespace sltest
