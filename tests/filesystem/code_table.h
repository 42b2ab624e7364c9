// Result-code tables for the file-system objects: each row is a call as written and the code it
// must give, and every failure must leave its record on the object.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fs_test_support.h"

namespace fstest {

struct CodeRow {
  SLResult code;
  const char* call;
  std::function<SLResult()> run;
};
#define FSTEST_ROW(object, code, call)        \
  fstest::CodeRow {                           \
    code, #call, [&] { return object->call; } \
  }

// Runs the rows in order. A failure's record holds the code, the entry's line (`firstLine` plus
// its place in `entries`, the interface's entries in table order), its generated function name and
// the message "<interface>::<entry>() failed, code: 0x%08x". A code that is not a failure leaves
// the record as it was.
inline void ExpectCodes(const void* object, const std::string& interfaceName, uint32_t firstLine,
                        const std::vector<std::string>& entries, const std::vector<CodeRow>& rows) {
  for (const CodeRow& row : rows) {
    const Failure before = LastFailure(object);
    EXPECT_EQ(row.code, row.run()) << row.call;
    const Failure after = LastFailure(object);
    if (!SL_FAILED(row.code)) {
      EXPECT_TRUE(before.code == after.code && before.line == after.line) << row.call;
      continue;
    }
    const std::string entry(row.call, std::strcspn(row.call, "("));
    const auto index = std::find(entries.begin(), entries.end(), entry) - entries.begin();
    char message[160];
    std::snprintf(message, sizeof message, "%s::%s() failed, code: 0x%08x", interfaceName.c_str(),
                  entry.c_str(), row.code);
    EXPECT_EQ(after.status, SL_OK) << row.call;
    EXPECT_EQ(after.code, row.code) << row.call;
    EXPECT_EQ(after.line, firstLine + index) << row.call;
    EXPECT_EQ(after.message, std::u16string(message, message + std::strlen(message))) << row.call;
    EXPECT_EQ(after.functionName, "SOImpl::Cpp" + interfaceName + "Base<struct " + interfaceName +
                                      "Impl,class SODetails::ServiceObjectTraits>::" + entry +
                                      "Impl::staticF")
        << row.call;
    EXPECT_NE(after.sourceFile.find("Support/include/support/details/"), std::string::npos);
  }
}

}  // namespace fstest
