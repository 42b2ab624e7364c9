// Every invalid-argument case of bad_input_cases.h, run through the built module as a host
// calls it: the documented result, out arguments left as they were, and the calling thread's
// failure record on the object holding the code exactly when the table says so. Then the table
// of docs/reliability.md is compared with the one these cases print.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "bad_input_cases.h"

namespace badinput {
namespace {

TEST(BadInput, EveryCaseGivesItsDocumentedResult) {
  for (const Case& bad : kCases) {
    SCOPED_TRACE(std::string(bad.entry) + ": " + bad.condition);
    Context context;
    const SLResult result = bad.run(context);
    ASSERT_NE(kOutArgumentChanged, result) << "an out argument was written";
    EXPECT_EQ(bad.expected, result);
    if (bad.recorded == Recorded::kNotAnObject) continue;
    ServiceObject* object = context.Object(bad.target);
    SLErrorInfo info{};
    const SLResult read = object->header.GetErrorInfo(object, &info, 0);
    if (bad.recorded == Recorded::kYes) {
      EXPECT_EQ(SL_OK, read);
      EXPECT_EQ(bad.expected, info.code);
    } else {
      EXPECT_EQ(SL_NOT_FOUND, read) << "recorded code " << info.code;
    }
  }
}

TEST(BadInput, TheDocumentedTableIsTheTableOfTheseCases) {
#ifndef SL_RELIABILITY_DOC
  GTEST_SKIP() << "the document is compared in native builds";
#else
  std::ifstream file(SL_RELIABILITY_DOC);
  ASSERT_TRUE(file) << SL_RELIABILITY_DOC;
  std::stringstream text;
  text << file.rdbuf();
  const std::string document = text.str();
  const std::string begin = "<!-- bad-input-table:begin -->\n";
  const std::string end = "<!-- bad-input-table:end -->";
  const size_t from = document.find(begin);
  const size_t to = document.find(end);
  ASSERT_NE(std::string::npos, from);
  ASSERT_NE(std::string::npos, to);
  EXPECT_EQ(MarkdownTable(), document.substr(from + begin.size(), to - from - begin.size()))
      << "regenerate it with bin/reliability_bad_input_table";
#endif
}

}  // namespace
}  // namespace badinput
