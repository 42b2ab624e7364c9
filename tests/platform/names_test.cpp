// Wildcards as Windows reads them: a dot before a star, and a dot at the end of a pattern, also
// match the end of a name, wherever they stand. Runs natively against the emulation and under
// Wine against the system calls themselves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "common/temp_directory.h"
#include "listing.h"
#include "platform/files.h"

namespace sl::platform {
namespace {

TEST(Wildcards, DotsBeforeStarsAlsoMatchTheEndOfAName) {
  const std::string own = "sl-wildcard-dots-" + std::to_string(::getpid());
  const std::u16string dir = sltest::TempDirectory() + std::u16string(own.begin(), own.end());
  const Names files{u"a", u"a.b", u"a.b.c", u"ab.txt", u"x.y.z"};
  CreateDirectoryW(dir.c_str());
  for (const std::u16string& name : files) {
    CloseHandle(CreateFileW((dir + u"\\" + name).c_str(), kGenericWrite, 0, kCreateAlways));
  }
  Names all = files;
  all.insert({u".", u".."});
  const struct {
    std::u16string pattern;
    Names found;
  } cases[] = {
      {u"*.*.*", all},
      {u"*..*", all},
      {u"a.*.*", {u"a", u"a.b", u"a.b.c"}},
      {u"*.b.*", {u"a.b", u"a.b.c"}},
      {u"x.*.z", {u"x.y.z"}},
      {u"a.?", {u"a.b"}},  // a dot before '?' needs a character after it
      {u"ab.txt.*", {u"ab.txt"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(List(dir + u"\\" + c.pattern), c.found)
        << std::string(c.pattern.begin(), c.pattern.end());
  }
  for (const std::u16string& name : files) DeleteFileW((dir + u"\\" + name).c_str());
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace sl::platform
