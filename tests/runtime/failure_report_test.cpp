// Failure records: what a failing entry records for the calling thread, how GetErrorInfo reads
// it back, and how a call into another object turns that object's record into an exception.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "common/foreign_object.h"
#include "common/test_objects.h"
#include "runtime/calling_rules.h"
#include "runtime/failure_report.h"

namespace {

std::u16string Text(const char* ascii) { return {ascii, ascii + std::strlen(ascii)}; }

class FailureRecords : public ::testing::Test {
 protected:
  ~FailureRecords() override { object()->header.Release(object()); }
  ServiceObject* object() { return probe_->AsObject(); }
  SLResult CallGetCount(SLResult code) {
    probe_->nextResult = code;
    uint64_t count = 0;
    return probe_->AsInterface()->GetCount(probe_->AsInterface(), &count);
  }
  SLErrorInfo Read(SLResult expected) {
    SLErrorInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(expected, object()->header.GetErrorInfo(object(), &info, 0));
    return info;
  }

  sltest::ProbeObject* probe_ = sltest::MakeProbe();
};

TEST_F(FailureRecords, EveryCodeButZeroOneAndThirteenIsRecorded) {
  EXPECT_EQ(SL_INVALID_ARGUMENT, object()->header.GetErrorInfo(object(), nullptr, 0));
  for (SLResult code : {0u, 1u, 13u}) EXPECT_EQ(code, CallGetCount(code));
  const SLErrorInfo none = Read(SL_NOT_FOUND), zero{};
  EXPECT_EQ(0, std::memcmp(&none, &zero, sizeof zero)) << "no record reads as zeros";

  const SLChar16* message = nullptr;
  for (SLResult code : {3u, 11u, 0x8BCDEF12u}) {
    EXPECT_EQ(code, CallGetCount(code));
    CallGetCount(SL_OK);  // a success keeps the failure
    const SLErrorInfo info = Read(SL_OK);
    char text[80];
    std::snprintf(text, sizeof text, "SLFileSystemSearchResult::GetCount() failed, code: 0x%08x",
                  code);
    EXPECT_EQ(code, info.code);
    EXPECT_EQ(6u, info.line);
    EXPECT_EQ(Text(text), std::u16string(info.message));
    EXPECT_STREQ(info.functionName,
                 "SOImpl::CppSLFileSystemSearchResultBase<struct SLFileSystemSearchResultImpl,"
                 "class SODetails::ServiceObjectTraits>::GetCountImpl::staticF");
    EXPECT_NE(nullptr, std::strstr(info.sourceFile,
                                   "Support/include/support/details/FileSystemSearchResult"));
    EXPECT_EQ(message != nullptr ? message : info.message, info.message) << "overwritten in place";
    message = info.message;
  }
}

TEST_F(FailureRecords, BelongToTheirThreadAndTheirObject) {
  CallGetCount(SL_NOT_FOUND);
  std::thread([this] {
    Read(SL_NOT_FOUND);
    CallGetCount(SL_ACCESS_DENIED);
    EXPECT_EQ(15u, Read(SL_OK).code);
  }).join();
  EXPECT_EQ(11u, Read(SL_OK).code);
  sltest::ProbeObject* other = sltest::MakeProbe();
  SLErrorInfo info{};
  EXPECT_EQ(SL_NOT_FOUND, other->AsObject()->header.GetErrorInfo(other->AsObject(), &info, 0));
  other->AsObject()->header.Release(other->AsObject());
}

TEST(ReportFailure, CutsMessagesTo511UnitsAndATerminator) {
  SODetails::ErrorRecords records;
  const std::u16string longName(600, u'x');
  SODetails::ReportFailure(records, 7, longName.c_str(), longName.size(), u"Entry", "f", "s", 1);
  SLErrorInfo info{};
  ASSERT_EQ(SL_OK, records.Read(&info));
  EXPECT_EQ(std::u16string(511, u'x'), std::u16string(info.message));
}

// After a failing call into another object, that object's record becomes the exception; a
// code that is no failure, an object without a record or without GetErrorInfo raise nothing.
TEST(ThrowOnServiceError, RaisesTheOtherObjectsRecord) {
  sltest::ForeignFileSystem foreign;
  auto* object = reinterpret_cast<ServiceObject*>(foreign.fs());
  foreign.hasErrorRecord = true;
  foreign.record = {16, 99, u"Foreign::Thing() failed", "ForeignFunction", "foreign.cpp"};
  try {
    SODetails::ThrowOnServiceError(object, 16);
    ADD_FAILURE() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(16u, e.code());
    EXPECT_EQ(99u, e.info().line);
    EXPECT_EQ(u"Foreign::Thing() failed", std::u16string(e.info().message));
    EXPECT_EQ(23u, e.info().length);
    EXPECT_STREQ("ForeignFunction", e.info().functionName);
    EXPECT_STREQ("foreign.cpp", e.info().sourceFile);
  }
  for (SLResult code : {0u, 1u, 13u}) EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, code));
  foreign.record.message = nullptr;  // raised with an empty message
  try {
    SODetails::ThrowOnServiceError(object, 16);
    ADD_FAILURE() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(0u, e.info().length);
    EXPECT_EQ(0, e.info().message[0]);
  }
  foreign.hasErrorRecord = false;
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 16));
  foreign.hasErrorRecord = true;
  foreign.table.header.GetErrorInfo = nullptr;
  EXPECT_NO_THROW(SODetails::ThrowOnServiceError(object, 16));
}

// Entry i (from 0) is called only when the table size exceeds 8 * i and its pointer is set.
TEST(CallingRules, EntriesBeyondTheTableAreNotCalled) {
  sltest::ForeignFileSystem foreign(8);  // entry 0 only
  foreign.table.CreateFolder = [](SLFileSystem*, const SLChar16*) -> SLResult { return 0; };
  SLResult result = 99;
  EXPECT_FALSE(SL_CALL_ENTRY(foreign.fs(), SLFileSystem, CreateFolder, &result, u"x"));
  EXPECT_EQ(99u, result);
}

}  // namespace
